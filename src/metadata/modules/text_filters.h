#pragma once

#include <cstdint>
#include <string>

#include "metadata/core/config_objects.h"
#include "metadata/modules/module.h"
#include "metadata/modules/module_bound_object.h"

namespace brn {

// Name of the built-in word generator, which has no module and stands for the
// engine's own word extraction.
inline constexpr const char* kDefaultWordGeneratorName = "Default";

// A text filter: turns documents of one type (named by a text index's filter
// type column) into plain text through a text-filter module, bound by name.
// It opens a module instance on first use and keeps it, and the module's
// reference, until Close or its destruction.
//
// Stored record: the base record, then FilterType and ModuleName (int32
// length and bytes each).
//
// Used by the thread of the session that owns the root.
class TBRNTextFilter : public TBRNModuleBoundObject {
 public:
  using TBRNModuleBoundObject::TBRNModuleBoundObject;
  ~TBRNTextFilter() override;

  std::string FilterType;  // compared without regard to case

  // Stores the type unless it equals the current one ignoring case.
  void SetFilterType(const std::string& filterType);
  // Acquires the module as a text filter and opens an instance, unless one
  // is open.
  void Open();
  // The document text of the given type as plain text.
  void Filter(const std::string& filterType, const std::string& text, std::string& result);

  std::string GetObjectTypeName() const override;
  int64_t GetMemorySize() const override;
  void Assign(const TBRNConfigObject* source, bool copyState) override;
  bool IsEqual(const TBRNConfigObject* other, bool compareIDs) const override;
  void SaveToStream(TBRNMemoryStream& stream, bool structureOnly) override;
  void LoadFromStream(TBRNMemoryStream& stream) override;
  std::string GetCreateSQL(bool option1, bool option2) override;
  std::string GetDropSQL(bool option1, bool option2) override;
};

// The configuration's text filters. Two filters clash only when both their
// names and their filter types are equal without regard to case.
class TBRNTextFilters : public TBRNCollection<TBRNTextFilter> {
 public:
  using TBRNCollection::TBRNCollection;

  TBRNTextFilter* GetFilter(int32_t index) const {
    return static_cast<TBRNTextFilter*>(GetItem(index));
  }
  // The first filter for the type (ignoring case); nullptr when none.
  TBRNTextFilter* FindFilterForType(const std::string& filterType) const;
  // Closes every member.
  void CloseAll();

  std::string GetObjectTypeName() const override;
  bool SameKey(const TBRNConfigObject* a, const TBRNConfigObject* b) const override;
};

// A word generator: yields the words of a text for text indexes through a
// word-generator module, bound by name. The built-in "Default" has no module
// (and no CREATE text); text indexes use the engine's own word extraction
// for it and never call NextWord.
//
// Stored record: the base record, then ModuleName (int32 length and bytes).
//
// Used by the thread of the session that owns the root.
class TBRNWordGenerator : public TBRNModuleBoundObject {
 public:
  using TBRNModuleBoundObject::TBRNModuleBoundObject;
  ~TBRNWordGenerator() override;

  // ModuleName is empty for the built-in generator.

  void Open();
  // The next word of text from position (1-based, advanced by the module);
  // an empty word ends the text.
  void NextWord(int32_t collation, const std::string& text, int32_t& position, std::string& word,
                bool searchMode);

  std::string GetObjectTypeName() const override;
  void CollectReferrers() override;
  void PropagateRename(const std::string& newName) override;
  void PropagateDrop() override;
  int64_t GetMemorySize() const override;
  void Assign(const TBRNConfigObject* source, bool copyState) override;
  bool IsEqual(const TBRNConfigObject* other, bool compareIDs) const override;
  void SaveToStream(TBRNMemoryStream& stream, bool structureOnly) override;
  void LoadFromStream(TBRNMemoryStream& stream) override;
  std::string GetCreateSQL(bool option1, bool option2) override;
  std::string GetDropSQL(bool option1, bool option2) override;
};

// The configuration's word generators.
class TBRNWordGenerators : public TBRNCollection<TBRNWordGenerator> {
 public:
  using TBRNCollection::TBRNCollection;

  TBRNWordGenerator* GetGenerator(int32_t index) const {
    return static_cast<TBRNWordGenerator*>(GetItem(index));
  }
  // Closes every member.
  void CloseAll();

  std::string GetObjectTypeName() const override;
};

// Helpers shared by the objects bound to a module by name.

// target is a module whose name equals moduleName ignoring case.
bool IsModuleNamed(const TBRNConfigObject* target, const std::string& moduleName);
// "\r\nDESCRIPTION '...'" for a non-empty description (trailing blanks
// removed), else empty.
std::string DescriptionClause(const std::string& description);

}  // namespace brn
