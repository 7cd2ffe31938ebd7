#include "platform/datasets/data_set.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "platform/bcd.h"
#include "platform/datasets/data_source.h"

namespace brn {

namespace {

bool sameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

template <typename T>
T readAs(const std::vector<uint8_t>& buffer) {
  T value;
  std::memcpy(&value, buffer.data(), sizeof value);
  return value;
}

template <typename T>
std::vector<uint8_t> bytesOf(T value) {
  std::vector<uint8_t> buffer(sizeof value);
  std::memcpy(buffer.data(), &value, sizeof value);
  return buffer;
}

}  // namespace

// ---- TField

TField::TField(TDataSet& dataSet, const std::string& name, TFieldType dataType, int32_t size,
               TFieldKind kind)
    : FieldName(name), DataType(dataType), Size(size), FieldKind(kind), dataSet_(dataSet) {}

int32_t TField::GetDataSize() const {
  switch (DataType) {
    case ftString:
    case ftFixedChar:
    case ftGuid:
      return Size + 1;
    case ftBytes:
      return Size;
    case ftVarBytes:
      return Size + 2;
    case ftSmallint:
    case ftBoolean:
    case ftWord:
      return 2;
    case ftInteger:
    case ftAutoInc:
    case ftDate:
    case ftTime:
      return 4;
    case ftLargeint:
    case ftFloat:
    case ftCurrency:
    case ftDateTime:
      return 8;
    case ftBCD:
      return int32_t(sizeof(TBcd));
    default:
      return 0;
  }
}

bool TField::GetData(void* buffer) const {
  return dataSet_.GetFieldData(*this, buffer);
}

void TField::SetData(const void* buffer) {
  dataSet_.SetFieldData(*this, buffer);
}

void TField::Validate(const void*) {
  if (OnValidate) OnValidate(*this);
}

bool TField::IsNull() const {
  std::vector<uint8_t> buffer(size_t(GetDataSize()) + 1);
  return !GetData(buffer.data());
}

TVariant TField::GetAsVariant() const {
  std::vector<uint8_t> buffer(size_t(GetDataSize()) + 1);
  if (!GetData(buffer.data())) return TVariant::Null();
  switch (DataType) {
    case ftString:
    case ftFixedChar:
    case ftGuid:
      return TVariant::FromString(reinterpret_cast<const char*>(buffer.data()));
    case ftSmallint:
      return TVariant::FromSmallInt(readAs<int16_t>(buffer));
    case ftBoolean:
      return TVariant::FromBoolean(readAs<int16_t>(buffer) != 0);
    case ftInteger:
    case ftAutoInc:
      return TVariant::FromInteger(readAs<int32_t>(buffer));
    case ftLargeint:
      return TVariant::FromInt64(readAs<int64_t>(buffer));
    case ftFloat:
      return TVariant::FromDouble(readAs<double>(buffer));
    case ftBCD: {
      int64_t scaled = 0;
      BcdToCurrency(readAs<TBcd>(buffer), scaled);
      return TVariant::FromCurrency(scaled);
    }
    default:
      throw std::logic_error("TField: no variant form for the field's type");
  }
}

void TField::SetAsVariant(const TVariant& value) {
  if (value.IsEmptyOrNull()) {
    Clear();
    return;
  }
  switch (value.VType()) {
    case varString:
      SetAsString(value.AsString());
      return;
    case varBoolean:
      SetAsBoolean(value.AsBoolean());
      return;
    case varDouble:
      SetAsFloat(value.AsDouble());
      return;
    case varSmallint:
      SetAsInteger(value.AsSmallInt());
      return;
    case varInteger:
      SetAsInteger(value.AsInteger());
      return;
    case varInt64:
      SetAsInteger(value.AsInt64());
      return;
    default:
      throw std::logic_error("TField: variant type not accepted");
  }
}

std::string TField::GetAsString() const {
  TVariant value = GetAsVariant();
  switch (value.VType()) {
    case varNull:
      return "";
    case varString:
      return value.AsString();
    case varBoolean:
      return value.AsBoolean() ? "True" : "False";
    case varDouble:
      return std::to_string(value.AsDouble());
    default:
      return std::to_string(GetAsInteger());
  }
}

void TField::SetAsString(const std::string& value) {
  switch (DataType) {
    case ftString:
    case ftFixedChar:
    case ftGuid: {
      std::vector<uint8_t> buffer(size_t(GetDataSize()), 0);
      std::memcpy(buffer.data(), value.data(), std::min(value.size(), buffer.size() - 1));
      SetData(buffer.data());
      return;
    }
    case ftFloat:
      SetAsFloat(std::stod(value));
      return;
    case ftBoolean:
      SetAsBoolean(sameName(value, "True"));
      return;
    default:
      SetAsInteger(std::stoll(value));
  }
}

int64_t TField::GetAsInteger() const {
  TVariant value = GetAsVariant();
  switch (value.VType()) {
    case varNull:
      return 0;
    case varSmallint:
      return value.AsSmallInt();
    case varInteger:
      return value.AsInteger();
    case varInt64:
      return value.AsInt64();
    case varBoolean:
      return value.AsBoolean() ? 1 : 0;
    case varDouble:
      return int64_t(value.AsDouble());
    case varString:
      return std::stoll(value.AsString());
    default:
      throw std::logic_error("TField: not an integer");
  }
}

void TField::SetAsInteger(int64_t value) {
  switch (DataType) {
    case ftSmallint:
      SetData(bytesOf(int16_t(value)).data());
      return;
    case ftInteger:
    case ftAutoInc:
      SetData(bytesOf(int32_t(value)).data());
      return;
    case ftLargeint:
      SetData(bytesOf(int64_t(value)).data());
      return;
    case ftFloat:
      SetAsFloat(double(value));
      return;
    case ftBoolean:
      SetAsBoolean(value != 0);
      return;
    case ftString:
    case ftFixedChar:
      SetAsString(std::to_string(value));
      return;
    default:
      throw std::logic_error("TField: integer not accepted");
  }
}

double TField::GetAsFloat() const {
  TVariant value = GetAsVariant();
  if (value.VType() == varDouble) return value.AsDouble();
  if (value.VType() == varCurrency) return double(value.AsCurrency()) / 10000.0;
  return double(GetAsInteger());
}

void TField::SetAsFloat(double value) {
  if (DataType == ftFloat)
    SetData(bytesOf(value).data());
  else
    SetAsInteger(int64_t(value));
}

bool TField::GetAsBoolean() const {
  return GetAsInteger() != 0;
}

void TField::SetAsBoolean(bool value) {
  if (DataType == ftBoolean)
    SetData(bytesOf(int16_t(value ? -1 : 0)).data());
  else
    SetAsInteger(value ? 1 : 0);
}

void AssignParamFromField(TParam& param, const TField& field) {
  param.DataType = field.DataType;
  param.Size = field.Size;
  param.SetValue(field.GetAsVariant());
}

// ---- TDataSet

TDataSet::TDataSet(TComponent* owner) : TComponent(owner) {}

TDataSet::~TDataSet() {
  for (TDataSource* source : std::vector<TDataSource*>(dataSources_)) source->SetDataSet(nullptr);
  fields_.clear();
}

void TDataSet::CheckActive() const {
  if (state_ == dsInactive) DatabaseError("Cannot perform this operation on a closed dataset");
}

void TDataSet::CheckInactive() const {
  if (GetActive()) DatabaseError("Cannot perform this operation on an open dataset");
}

void TDataSet::CheckBrowseMode() {
  CheckActive();
  if (state_ == dsEdit || state_ == dsInsert) Post();
  else if (state_ == dsSetKey) SetState(dsBrowse);
}

void TDataSet::SetActive(bool value) {
  if (IsLoading() || state_ == dsOpening) return;
  if (value == GetActive()) return;
  if (value)
    doOpen();
  else
    doClose();
}

void TDataSet::doOpen() {
  notify(BeforeOpen);
  state_ = dsOpening;
  try {
    OpenCursor();
    allocateBuffers();
    state_ = dsBrowse;
    InternalFirst();
    GetNextRecords();
    bof_ = true;
  } catch (...) {
    state_ = dsBrowse;
    doClose();
    throw;
  }
  DataEvent(deUpdateState);
  notify(AfterOpen);
}

void TDataSet::doClose() {
  notify(BeforeClose);
  if (state_ == dsEdit || state_ == dsInsert || state_ == dsSetKey) {
    // Closing drops what was being edited.
    Cancel();
  }
  CloseCursor();
  freeBuffers();
  state_ = dsInactive;
  recordCount_ = 0;
  bof_ = eof_ = true;
  DataEvent(deUpdateState);
  notify(AfterClose);
}

void TDataSet::OpenCursor() {
  InternalOpen();
}

void TDataSet::CloseCursor() {
  InternalClose();
}

void TDataSet::allocateBuffers() {
  buffers_.push_back(AllocRecordBuffer());
  buffers_.push_back(AllocRecordBuffer());
  calcBuffer_ = AllocRecordBuffer();
}

void TDataSet::freeBuffers() {
  for (TRecordBuffer& buffer : buffers_) FreeRecordBuffer(buffer);
  buffers_.clear();
  if (calcBuffer_ != nullptr) FreeRecordBuffer(calcBuffer_);
  calcBuffer_ = nullptr;
  currentRecord_ = -1;
}

// Loads the active record with one GetRecord in mode; the dataset is empty
// when it fails.
void TDataSet::fillActive(TGetMode mode) {
  TGetResult result = GetRecord(buffers_[0], mode);
  recordCount_ = result == grOK ? 1 : 0;
  currentRecord_ = recordCount_ == 1 ? 0 : -1;
  eof_ = recordCount_ == 0;
  bof_ = recordCount_ == 0;
}

int32_t TDataSet::GetNextRecords() {
  fillActive(gmNext);
  return recordCount_;
}

int32_t TDataSet::GetPriorRecords() {
  fillActive(gmPrior);
  return recordCount_;
}

void TDataSet::UpdateCursorPos() {
  if (recordCount_ > 0 && currentRecord_ != 0) {
    InternalSetToRecord(buffers_[0]);
    currentRecord_ = 0;
  }
}

void TDataSet::Resync() {
  if (GetRecord(buffers_[0], gmCurrent) == grOK) {
    recordCount_ = 1;
    currentRecord_ = 0;
    bof_ = eof_ = false;
  } else if (GetRecord(buffers_[0], gmNext) == grOK || GetRecord(buffers_[0], gmPrior) == grOK) {
    recordCount_ = 1;
    currentRecord_ = 0;
    bof_ = eof_ = false;
  } else {
    recordCount_ = 0;
    currentRecord_ = -1;
    bof_ = eof_ = true;
  }
  DataEvent(deDataSetChange);
}

void TDataSet::First() {
  CheckBrowseMode();
  DoBeforeScroll();
  InternalFirst();
  GetNextRecords();
  bof_ = true;
  DataEvent(deDataSetChange);
  DoAfterScroll();
}

void TDataSet::Last() {
  CheckBrowseMode();
  DoBeforeScroll();
  InternalLast();
  GetPriorRecords();
  eof_ = true;
  DataEvent(deDataSetChange);
  DoAfterScroll();
}

int32_t TDataSet::MoveBy(int32_t distance) {
  CheckBrowseMode();
  int32_t moved = 0;
  if ((distance > 0 && eof_) || (distance < 0 && bof_) || distance == 0) return 0;
  bof_ = eof_ = false;
  DoBeforeScroll();
  UpdateCursorPos();
  const TGetMode mode = distance > 0 ? gmNext : gmPrior;
  const int32_t steps = distance > 0 ? distance : -distance;
  while (moved < steps) {
    if (GetRecord(buffers_[1], mode) != grOK) {
      (mode == gmNext ? eof_ : bof_) = true;
      // The cursor is past the active record now.
      CursorPosChanged();
      break;
    }
    std::swap(buffers_[0], buffers_[1]);
    currentRecord_ = 0;
    ++moved;
  }
  if (recordCount_ == 0) bof_ = eof_ = true;
  DataEvent(deDataSetChange);
  DoAfterScroll();
  return distance > 0 ? moved : -moved;
}

void TDataSet::Refresh() {
  CheckBrowseMode();
  notify(BeforeRefresh);
  UpdateCursorPos();
  InternalRefresh();
  Resync();
  notify(AfterRefresh);
}

void TDataSet::DoBeforeScroll() {
  notify(BeforeScroll);
}

void TDataSet::DoAfterScroll() {
  notify(AfterScroll);
}

void TDataSet::Edit() {
  if (state_ == dsEdit || state_ == dsInsert) return;
  if (IsEmpty()) {
    Insert();
    return;
  }
  CheckBrowseMode();
  if (!GetCanModify()) DatabaseError("Cannot modify a read-only dataset");
  notify(BeforeEdit);
  UpdateCursorPos();
  InternalEdit();
  SetState(dsEdit);
  DataEvent(deRecordChange);
  notify(AfterEdit);
}

void TDataSet::InitRecord(TRecordBuffer buffer) {
  InternalInitRecord(buffer);
  ClearCalcFields(buffer);
  SetBookmarkFlag(buffer, bfInserted);
}

void TDataSet::Insert() {
  CheckBrowseMode();
  if (!GetCanModify()) DatabaseError("Cannot modify a read-only dataset");
  notify(BeforeInsert);
  DoBeforeScroll();
  UpdateCursorPos();
  // The active record is kept in the temporary buffer until post or cancel
  // reread the position.
  std::swap(buffers_[0], buffers_[1]);
  InitRecord(buffers_[0]);
  CursorPosChanged();
  SetState(dsInsert);
  try {
    DoOnNewRecord();
  } catch (...) {
    std::swap(buffers_[0], buffers_[1]);
    SetState(dsBrowse);
    Resync();
    throw;
  }
  DataEvent(deDataSetChange);
  notify(AfterInsert);
  DoAfterScroll();
}

void TDataSet::DoOnNewRecord() {
  notify(OnNewRecord);
}

void TDataSet::Post() {
  if (state_ != dsEdit && state_ != dsInsert) {
    CheckActive();
    return;
  }
  notify(BeforePost);
  InternalPost();
  freeFieldBuffers();
  SetState(dsBrowse);
  Resync();
  notify(AfterPost);
}

void TDataSet::Cancel() {
  if (state_ == dsSetKey) {
    SetState(dsBrowse);
    return;
  }
  if (state_ != dsEdit && state_ != dsInsert) return;
  notify(BeforeCancel);
  const bool inserting = state_ == dsInsert;
  InternalCancel();
  freeFieldBuffers();
  if (inserting) std::swap(buffers_[0], buffers_[1]);
  SetState(dsBrowse);
  if (recordCount_ > 0) {
    CursorPosChanged();
    UpdateCursorPos();
  }
  Resync();
  notify(AfterCancel);
}

void TDataSet::DoBeforeDelete() {
  notify(BeforeDelete);
}

void TDataSet::Delete() {
  CheckActive();
  if (state_ == dsInsert) {
    Cancel();
    return;
  }
  if (IsEmpty()) DatabaseError("Cannot perform this operation on an empty dataset");
  DoBeforeDelete();
  DoBeforeScroll();
  UpdateCursorPos();
  InternalDelete();
  SetState(dsBrowse);
  Resync();
  notify(AfterDelete);
  DoAfterScroll();
}

void TDataSet::freeFieldBuffers() {
  for (const auto& field : fields_) {
    if (!field->Modified) continue;
    CloseBlob(*field);
    field->Modified = false;
  }
}

std::unique_ptr<EUpdateError> TDataSet::PSGetUpdateException(std::exception_ptr error,
                                                             const EUpdateError* previous) {
  if (!error) throw std::invalid_argument("PSGetUpdateException needs an exception");
  std::string message;
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& failure) {
    message = failure.what();
  } catch (...) {
    // Not a standard exception: there is no message to carry.
  }
  return std::make_unique<EUpdateError>(message, "", 0, previous ? previous->ErrorCode : 0,
                                        std::move(error));
}

TBookmark TDataSet::GetBookmark() {
  CheckActive();
  if (IsEmpty() || GetBookmarkFlag(ActiveBuffer()) != bfCurrent) return {};
  TBookmark bookmark(static_cast<size_t>(bookmarkSize_));
  GetBookmarkData(ActiveBuffer(), bookmark.data());
  return bookmark;
}

void TDataSet::GotoBookmark(const TBookmark& bookmark) {
  if (bookmark.empty()) return;
  CheckBrowseMode();
  DoBeforeScroll();
  InternalGotoBookmark(bookmark.data());
  Resync();
  DoAfterScroll();
}

TField* TDataSet::FindField(const std::string& name) const {
  for (const auto& field : fields_)
    if (sameName(field->FieldName, name)) return field.get();
  return nullptr;
}

TField& TDataSet::FieldByName(const std::string& name) const {
  TField* field = FindField(name);
  if (field == nullptr) DatabaseError("Field '" + name + "' not found");
  return *field;
}

TField& TDataSet::AddCalculatedField(const std::string& name, TFieldType dataType, int32_t size,
                                     TFieldKind kind) {
  CheckInactive();
  fields_.push_back(std::make_unique<TField>(*this, name, dataType, size, kind));
  return *fields_.back();
}

void TDataSet::CreateFields() {
  defaultFields_ = true;
  for (const TFieldDef& def : fieldDefs_) {
    if (FindField(def.Name) != nullptr) continue;
    auto field = std::make_unique<TField>(*this, def.Name, def.DataType, def.Size,
                                          def.InternalCalcField ? fkInternalCalc : fkData);
    field->FieldNo = def.FieldNo;
    field->ReadOnly = def.ReadOnly;
    fields_.push_back(std::move(field));
  }
}

void TDataSet::DestroyFields() {
  std::erase_if(fields_, [](const std::unique_ptr<TField>& field) {
    return field->FieldKind == fkData || field->FieldKind == fkInternalCalc;
  });
  defaultFields_ = false;
}

void TDataSet::BindFields(bool binding) {
  calcFieldsSize_ = 0;
  if (!binding) return;
  for (const auto& field : fields_) {
    if (field->FieldKind == fkCalculated || field->FieldKind == fkLookup) {
      field->Offset = calcFieldsSize_;
      calcFieldsSize_ += field->GetDataSize() + 1;
    } else if (field->FieldNo == 0) {
      for (const TFieldDef& def : fieldDefs_)
        if (sameName(def.Name, field->FieldName)) field->FieldNo = def.FieldNo;
    }
  }
}

bool TDataSet::GetFieldData(const TField&, void*) {
  return false;
}

void TDataSet::SetFieldData(TField&, const void*) {}

void TDataSet::GetCalcFields(TRecordBuffer buffer) {
  if (calcFieldsSize_ == 0 && !OnCalcFields) return;
  // The calculation state reads and writes the buffer being filled.
  TRecordBuffer saved = calcBuffer_;
  calcBuffer_ = buffer;
  TDataSetState previous = SetTempState(dsCalcFields);
  try {
    CalculateFields(buffer);
  } catch (...) {
    RestoreState(previous);
    calcBuffer_ = saved;
    throw;
  }
  RestoreState(previous);
  calcBuffer_ = saved;
}

void TDataSet::CalculateFields(TRecordBuffer buffer) {
  ClearCalcFields(buffer);
  if (autoCalcFields_ || state_ != dsInternalCalc) notify(OnCalcFields);
}

void TDataSet::SetState(TDataSetState value) {
  if (state_ == value) return;
  state_ = value;
  DataEvent(deUpdateState);
}

TDataSetState TDataSet::SetTempState(TDataSetState value) {
  TDataSetState previous = state_;
  state_ = value;
  return previous;
}

void TDataSet::RestoreState(TDataSetState previous) {
  state_ = previous;
}

void TDataSet::DataEvent(TDataEvent event, TField* field) {
  if (event == deFieldChange && field != nullptr && field->OnChange) field->OnChange(*field);
  if (OnDataEvent) OnDataEvent(event, field);
  for (TDataSource* source : std::vector<TDataSource*>(dataSources_)) source->dataEvent(event, field);
}

void TDataSet::SetKey() {
  CheckBrowseMode();
  SetState(dsSetKey);
  // The record shown is now the key being entered.
  DataEvent(deDataSetChange);
}

void TDataSet::SetFilterText(const std::string& value) {
  filterText_ = value;
}

void TDataSet::SetFiltered(bool value) {
  filtered_ = value;
}

void TDataSet::SetFilterOptions(const TFilterOptions& value) {
  filterOptions_ = value;
}

void TDataSet::SetOnFilterRecord(TFilterRecordEvent value) {
  onFilterRecord_ = std::move(value);
}

void TDataSet::SetBlockReadSize(int32_t value) {
  if (value > 0) CheckBrowseMode();
  blockReadSize_ = value;
  if (GetActive()) SetState(value > 0 ? dsBlockRead : dsBrowse);
}

void TDataSet::InternalHandleException(const std::exception& error) {
  HandleApplicationException(error);
}

}  // namespace brn
