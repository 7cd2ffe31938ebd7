#include "metadata/modules/text_filters.h"

#include "foundation/core/memory_stream.h"
#include "foundation/text/collation.h"
#include "foundation/text/string_helpers.h"
#include "metadata/core/object_selections.h"
#include "metadata/modules/module_host.h"

namespace brn {

bool IsModuleNamed(const TBRNConfigObject* target, const std::string& moduleName) {
  return dynamic_cast<const TBRNModule*>(target) != nullptr &&
         TextEqualsIgnoreCase(target->Name, moduleName);
}

std::string DescriptionClause(const std::string& description) {
  std::string trimmed = TrimTrailingBlanks(description);
  return trimmed.empty() ? std::string() : "\r\nDESCRIPTION " + QuoteString(trimmed, '\'');
}

// ---------------------------------------------------------------------------
// TBRNTextFilter

TBRNTextFilter::~TBRNTextFilter() = default;

void TBRNTextFilter::SetFilterType(const std::string& filterType) {
  if (TextEqualsIgnoreCase(filterType, FilterType)) return;
  FilterType = filterType;
  SetModified(true);
}

void TBRNTextFilter::Open() {
  Binding.Open(this, ModuleName, mtTextFilter);
}

void TBRNTextFilter::Filter(const std::string& filterType, const std::string& text,
                            std::string& result) {
  TBRNModule* module = Binding.Open(this, ModuleName, mtTextFilter);
  module->CallTextFilter(Binding.GetInstance(), filterType, text);
  result = module->GetOutputText();
}

std::string TBRNTextFilter::GetObjectTypeName() const {
  return "text filter";
}

int64_t TBRNTextFilter::GetMemorySize() const {
  return TBRNConfigObject::GetMemorySize() + int64_t(sizeof(TBRNTextFilter)) -
         int64_t(sizeof(TBRNConfigObject)) + StringMemSize(FilterType) + StringMemSize(ModuleName);
}

void TBRNTextFilter::Assign(const TBRNConfigObject* source, bool copyState) {
  TBRNConfigObject::Assign(source, copyState);
  if (auto* filter = dynamic_cast<const TBRNTextFilter*>(source)) {
    FilterType = filter->FilterType;
    ModuleName = filter->ModuleName;
  }
}

bool TBRNTextFilter::IsEqual(const TBRNConfigObject* other, bool compareIDs) const {
  auto* filter = dynamic_cast<const TBRNTextFilter*>(other);
  return filter != nullptr && TBRNConfigObject::IsEqual(other, compareIDs) &&
         filter->FilterType == FilterType && TextEqualsIgnoreCase(filter->ModuleName, ModuleName);
}

void TBRNTextFilter::SaveToStream(TBRNMemoryStream& stream, bool structureOnly) {
  TBRNConfigObject::SaveToStream(stream, structureOnly);
  stream.WriteString(FilterType);
  stream.WriteString(ModuleName);
}

void TBRNTextFilter::LoadFromStream(TBRNMemoryStream& stream) {
  TBRNConfigObject::LoadFromStream(stream);
  FilterType = readStoredString(stream);
  ModuleName = readStoredString(stream);
}

std::string TBRNTextFilter::GetCreateSQL(bool, bool) {
  return "CREATE TEXT FILTER " + QuoteString(Name, '"') + "\r\nTYPE " +
         QuoteString(FilterType, '\'') + "\r\nMODULE " + QuoteString(ModuleName, '"') +
         DescriptionClause(Description);
}

std::string TBRNTextFilter::GetDropSQL(bool, bool) {
  return "DROP TEXT FILTER " + QuoteString(Name, '"');
}

// ---------------------------------------------------------------------------
// TBRNTextFilters

TBRNTextFilter* TBRNTextFilters::FindFilterForType(const std::string& filterType) const {
  for (int32_t i = 0; i < Count(); ++i) {
    if (TextEqualsIgnoreCase(GetFilter(i)->FilterType, filterType)) return GetFilter(i);
  }
  return nullptr;
}

void TBRNTextFilters::CloseAll() {
  for (int32_t i = 0; i < Count(); ++i) GetFilter(i)->Close();
}

std::string TBRNTextFilters::GetObjectTypeName() const {
  return "text filter";
}

bool TBRNTextFilters::SameKey(const TBRNConfigObject* a, const TBRNConfigObject* b) const {
  auto* first = dynamic_cast<const TBRNTextFilter*>(a);
  auto* second = dynamic_cast<const TBRNTextFilter*>(b);
  if (first == nullptr || second == nullptr) return TBRNConfigObjects::SameKey(a, b);
  return TBRNConfigObjects::SameKey(a, b) &&
         TextEqualsIgnoreCase(first->FilterType, second->FilterType);
}

// ---------------------------------------------------------------------------
// TBRNWordGenerator

TBRNWordGenerator::~TBRNWordGenerator() = default;

void TBRNWordGenerator::Open() {
  Binding.Open(this, ModuleName, mtWordGenerator);
}

void TBRNWordGenerator::NextWord(int32_t collation, const std::string& text, int32_t& position,
                                 std::string& word, bool searchMode) {
  TBRNModule* module = Binding.Open(this, ModuleName, mtWordGenerator);
  module->CallWordGenerator(Binding.GetInstance(), collation, text, position, word, searchMode);
}

std::string TBRNWordGenerator::GetObjectTypeName() const {
  return "word generator";
}

void TBRNWordGenerator::CollectReferrers() {
  TBRNModuleHost* host = ModuleHostOf(this);
  if (TBRNConfigObjects* databases = host != nullptr ? host->GetDatabaseEntries() : nullptr) {
    databases->RegisterReferenceTo(this);
  }
}

void TBRNWordGenerator::PropagateRename(const std::string& newName) {
  TBRNModuleHost* host = ModuleHostOf(this);
  if (TBRNConfigObjects* databases = host != nullptr ? host->GetDatabaseEntries() : nullptr) {
    databases->ReplaceReferencedName(this, newName);
  }
}

void TBRNWordGenerator::PropagateDrop() {
  TBRNModuleHost* host = ModuleHostOf(this);
  if (TBRNConfigObjects* databases = host != nullptr ? host->GetDatabaseEntries() : nullptr) {
    databases->RemoveReferenceTo(this);
  }
}

int64_t TBRNWordGenerator::GetMemorySize() const {
  return TBRNConfigObject::GetMemorySize() + int64_t(sizeof(TBRNWordGenerator)) -
         int64_t(sizeof(TBRNConfigObject)) + StringMemSize(ModuleName);
}

void TBRNWordGenerator::Assign(const TBRNConfigObject* source, bool copyState) {
  TBRNConfigObject::Assign(source, copyState);
  if (auto* generator = dynamic_cast<const TBRNWordGenerator*>(source)) {
    ModuleName = generator->ModuleName;
  }
}

bool TBRNWordGenerator::IsEqual(const TBRNConfigObject* other, bool compareIDs) const {
  auto* generator = dynamic_cast<const TBRNWordGenerator*>(other);
  return generator != nullptr && TBRNConfigObject::IsEqual(other, compareIDs) &&
         TextEqualsIgnoreCase(generator->ModuleName, ModuleName);
}

void TBRNWordGenerator::SaveToStream(TBRNMemoryStream& stream, bool structureOnly) {
  TBRNConfigObject::SaveToStream(stream, structureOnly);
  stream.WriteString(ModuleName);
}

void TBRNWordGenerator::LoadFromStream(TBRNMemoryStream& stream) {
  TBRNConfigObject::LoadFromStream(stream);
  ModuleName = readStoredString(stream);
}

std::string TBRNWordGenerator::GetCreateSQL(bool, bool) {
  if (ModuleName.empty()) return "";
  return "CREATE WORD GENERATOR " + QuoteString(Name, '"') + "\r\nMODULE " +
         QuoteString(ModuleName, '"') + DescriptionClause(Description);
}

std::string TBRNWordGenerator::GetDropSQL(bool, bool) {
  return "DROP WORD GENERATOR " + QuoteString(Name, '"');
}

// ---------------------------------------------------------------------------
// TBRNWordGenerators

void TBRNWordGenerators::CloseAll() {
  for (int32_t i = 0; i < Count(); ++i) GetGenerator(i)->Close();
}

std::string TBRNWordGenerators::GetObjectTypeName() const {
  return "word generator";
}

}  // namespace brn
