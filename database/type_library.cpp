#include "database/type_library.h"

#include "database/interfaces.h"
#include "database/values.h"
#include "platform/automation/binding.h"

namespace database {

namespace {

using automation::Bind;
using automation::BindInterface;
using automation::DescribeMember;
using automation::Enum;
using automation::EnumDesc;
using automation::Interface;
using automation::kBoolType;
using automation::kLongType;
using automation::kNoValue;
using automation::kStringType;
using automation::kVariantType;
using automation::MemberDesc;
using automation::ParamDesc;
using automation::RequiredParam;
using Kind = automation::MemberKind;

ParamDesc Optional(std::string name, automation::TypeDesc type = kVariantType,
                   automation::Constant defaultValue = {}) {
  return {std::move(name), std::move(type), true, std::move(defaultValue)};
}

std::vector<EnumDesc> Enumerations() {
  return {
      {"ObjectStateEnum",
       {},
       {{"adStateClosed", kStateClosed, {}}, {"adStateOpen", kStateOpen, {}}}},
      {"CursorTypeEnum",
       {},
       {{"adOpenUnspecified", -1, {}},
        {"adOpenForwardOnly", 0, {}},
        {"adOpenKeyset", 1, {}},
        {"adOpenDynamic", 2, {}},
        {"adOpenStatic", 3, {}}}},
      {"LockTypeEnum",
       {},
       {{"adLockUnspecified", kLockUnspecified, {}},
        {"adLockReadOnly", kLockReadOnly, {}},
        {"adLockPessimistic", kLockPessimistic, {}},
        {"adLockOptimistic", kLockOptimistic, {}},
        {"adLockBatchOptimistic", kLockBatchOptimistic, {}}}},
      {"CommandTypeEnum",
       {},
       {{"adCmdUnspecified", kCommandUnspecified, {}},
        {"adCmdText", kCommandText, {}},
        {"adCmdTable", kCommandTable, {}},
        {"adCmdUnknown", kCommandUnknown, {}}}},
      {"EditModeEnum",
       {},
       {{"adEditNone", 0, {}}, {"adEditInProgress", 1, {}}, {"adEditAdd", 2, {}}}},
      {"DataTypeEnum",
       {},
       {{"adEmpty", kTypeEmpty, {}},
        {"adSmallInt", kTypeSmallInt, {}},
        {"adInteger", kTypeInteger, {}},
        {"adSingle", kTypeSingle, {}},
        {"adDouble", kTypeDouble, {}},
        {"adBoolean", kTypeBoolean, {}},
        {"adVariant", kTypeVariant, {}},
        {"adBigInt", kTypeBigInt, {}},
        {"adGUID", kTypeGuid, {}},
        {"adWChar", kTypeWChar, {}},
        {"adNumeric", kTypeNumeric, {}},
        {"adDBDate", kTypeDate, {}},
        {"adDBTime", kTypeTime, {}},
        {"adDBTimeStamp", kTypeTimeStamp, {}},
        {"adVarWChar", kTypeVarWChar, {}},
        {"adLongVarWChar", kTypeLongVarWChar, {}},
        {"adLongVarBinary", kTypeLongVarBinary, {}}}},
  };
}

std::vector<MemberDesc> DatabaseFieldMembers() {
  return {
      DescribeMember(1, Kind::kGet, "ActualSize", {}, kLongType,
                     Bind<&IDatabaseField::get_ActualSize>()),
      DescribeMember(2, Kind::kMethod, "AppendChunk", {RequiredParam("Data", kVariantType)},
                     kNoValue, Bind<&IDatabaseField::AppendChunk>()),
      DescribeMember(3, Kind::kMethod, "GetChunk", {RequiredParam("Length", kLongType)},
                     kVariantType, Bind<&IDatabaseField::GetChunk>()),
      DescribeMember(4, Kind::kMethod, "Update", {}, kNoValue, Bind<&IDatabaseField::Update>()),
  };
}

std::vector<MemberDesc> DatabaseMembers() {
  return {
      DescribeMember(1, Kind::kMethod, "Open", {RequiredParam("Path", kStringType)}, kNoValue,
                     Bind<&IDatabase::Open>()),
      DescribeMember(2, Kind::kMethod, "Execute", {RequiredParam("Sql", kStringType)}, kLongType,
                     Bind<&IDatabase::Execute>()),
      DescribeMember(3, Kind::kMethod, "Field",
                     {RequiredParam("Table", kStringType), RequiredParam("Column", kStringType),
                      RequiredParam("RowId", kLongType)},
                     Interface("IDatabaseField"), Bind<&IDatabase::Field>()),
      DescribeMember(4, Kind::kMethod, "Close", {}, kNoValue, Bind<&IDatabase::Close>()),
      DescribeMember(5, Kind::kGet, "LastInsertRowId", {}, kLongType,
                     Bind<&IDatabase::get_LastInsertRowId>()),
  };
}

std::vector<MemberDesc> ConnectionMembers() {
  return {
      DescribeMember(0, Kind::kGet, "ConnectionString", {}, kStringType,
                     Bind<&IConnection::get_ConnectionString>()),
      DescribeMember(0, Kind::kPut, "ConnectionString", {RequiredParam("Text", kStringType)},
                     kNoValue, Bind<&IConnection::put_ConnectionString>()),
      DescribeMember(1, Kind::kMethod, "Open",
                     {Optional("ConnectionString"), Optional("UserID"), Optional("Password")},
                     kNoValue, Bind<&IConnection::Open>()),
      DescribeMember(2, Kind::kMethod, "Close", {}, kNoValue, Bind<&IConnection::Close>()),
      DescribeMember(3, Kind::kMethod, "Execute",
                     {RequiredParam("CommandText", kStringType), Optional("Parameters")},
                     kVariantType, Bind<&IConnection::Execute>()),
      DescribeMember(4, Kind::kMethod, "BeginTrans", {}, kLongType,
                     Bind<&IConnection::BeginTrans>()),
      DescribeMember(5, Kind::kMethod, "CommitTrans", {}, kNoValue,
                     Bind<&IConnection::CommitTrans>()),
      DescribeMember(6, Kind::kMethod, "RollbackTrans", {}, kNoValue,
                     Bind<&IConnection::RollbackTrans>()),
      DescribeMember(7, Kind::kGet, "State", {}, Enum("ObjectStateEnum"),
                     Bind<&IConnection::get_State>()),
      DescribeMember(8, Kind::kGet, "Provider", {}, kStringType,
                     Bind<&IConnection::get_Provider>()),
  };
}

std::vector<MemberDesc> RecordsetMembers() {
  return {
      DescribeMember(0, Kind::kGet, "Fields", {}, Interface("IFields"),
                     Bind<&IRecordset::get_Fields>()),
      DescribeMember(1, Kind::kMethod, "Open",
                     {RequiredParam("Source", kStringType), Optional("ActiveConnection"),
                      Optional("CursorType", Enum("CursorTypeEnum"), -1),
                      Optional("LockType", Enum("LockTypeEnum"), kLockUnspecified),
                      Optional("Options", kLongType, kCommandUnspecified), Optional("Parameters")},
                     kNoValue, Bind<&IRecordset::Open>()),
      DescribeMember(2, Kind::kMethod, "Close", {}, kNoValue, Bind<&IRecordset::Close>()),
      DescribeMember(3, Kind::kGet, "EOF", {}, kBoolType, Bind<&IRecordset::get_EOF>()),
      DescribeMember(4, Kind::kGet, "BOF", {}, kBoolType, Bind<&IRecordset::get_BOF>()),
      DescribeMember(5, Kind::kMethod, "MoveNext", {}, kNoValue, Bind<&IRecordset::MoveNext>()),
      DescribeMember(6, Kind::kMethod, "MovePrevious", {}, kNoValue,
                     Bind<&IRecordset::MovePrevious>()),
      DescribeMember(7, Kind::kMethod, "MoveFirst", {}, kNoValue, Bind<&IRecordset::MoveFirst>()),
      DescribeMember(8, Kind::kMethod, "MoveLast", {}, kNoValue, Bind<&IRecordset::MoveLast>()),
      DescribeMember(9, Kind::kGet, "RecordCount", {}, kLongType,
                     Bind<&IRecordset::get_RecordCount>()),
      DescribeMember(10, Kind::kMethod, "AddNew", {}, kNoValue, Bind<&IRecordset::AddNew>()),
      DescribeMember(11, Kind::kMethod, "Update", {}, kNoValue, Bind<&IRecordset::Update>()),
      DescribeMember(12, Kind::kMethod, "CancelUpdate", {}, kNoValue,
                     Bind<&IRecordset::CancelUpdate>()),
      DescribeMember(13, Kind::kMethod, "Delete", {}, kNoValue, Bind<&IRecordset::Delete>()),
      DescribeMember(14, Kind::kGet, "State", {}, Enum("ObjectStateEnum"),
                     Bind<&IRecordset::get_State>()),
      DescribeMember(15, Kind::kGet, "EditMode", {}, Enum("EditModeEnum"),
                     Bind<&IRecordset::get_EditMode>()),
  };
}

std::vector<MemberDesc> FieldsMembers() {
  return {
      DescribeMember(0, Kind::kGet, "Item", {RequiredParam("Index", kVariantType)},
                     Interface("IRecordsetField"), Bind<&IFields::get_Item>()),
      DescribeMember(1, Kind::kGet, "Count", {}, kLongType, Bind<&IFields::get_Count>()),
      DescribeMember(DISPID_NEWENUM, Kind::kGet, "_NewEnum", {}, {VT_UNKNOWN, {}},
                     Bind<&IFields::get__NewEnum>()),
  };
}

std::vector<MemberDesc> RecordsetFieldMembers() {
  return {
      DescribeMember(1, Kind::kGet, "ActualSize", {}, kLongType,
                     Bind<&IRecordsetField::get_ActualSize>()),
      DescribeMember(2, Kind::kMethod, "AppendChunk", {RequiredParam("Data", kVariantType)},
                     kNoValue, Bind<&IRecordsetField::AppendChunk>()),
      DescribeMember(3, Kind::kMethod, "GetChunk", {RequiredParam("Length", kLongType)},
                     kVariantType, Bind<&IRecordsetField::GetChunk>()),
      DescribeMember(4, Kind::kGet, "Name", {}, kStringType, Bind<&IRecordsetField::get_Name>()),
      DescribeMember(5, Kind::kGet, "Type", {}, Enum("DataTypeEnum"),
                     Bind<&IRecordsetField::get_Type>()),
      DescribeMember(6, Kind::kGet, "DefinedSize", {}, kLongType,
                     Bind<&IRecordsetField::get_DefinedSize>()),
      DescribeMember(0, Kind::kGet, "Value", {}, kVariantType, Bind<&IRecordsetField::get_Value>()),
      DescribeMember(0, Kind::kPut, "Value", {RequiredParam("Value", kVariantType)}, kNoValue,
                     Bind<&IRecordsetField::put_Value>()),
  };
}

automation::TypeLibraryDesc DescribeLibrary() {
  automation::TypeLibraryDesc desc;
  desc.name = "VellumDatabaseLib";
  desc.libid = LIBID_VellumDatabaseLib;
  desc.help = "Vellum Database 1.0 Type Library";
  desc.enums = Enumerations();
  desc.interfaces = {
      {"IDatabaseField", IID_IDatabaseField, "IDatabaseField Interface", DatabaseFieldMembers()},
      {"IDatabase", IID_IDatabase, "IDatabase Interface", DatabaseMembers()},
      {"IConnection", IID_IConnection, "IConnection Interface", ConnectionMembers()},
      {"IRecordset", IID_IRecordset, "IRecordset Interface", RecordsetMembers()},
      {"IFields", IID_IFields, "IFields Interface", FieldsMembers()},
      {"IRecordsetField", IID_IRecordsetField, "IRecordsetField Interface",
       RecordsetFieldMembers()},
  };
  desc.classes = {{"Database", CLSID_Database, "Database Class", "IDatabase"},
                  {"Connection", CLSID_Connection, "Connection Class", "IConnection"},
                  {"Recordset", CLSID_Recordset, "Recordset Class", "IRecordset"}};
  return desc;
}

}  // namespace

std::shared_ptr<const automation::TypeLibraryDesc> DatabaseLibrary() {
  static const auto library = automation::ShareLibrary(DescribeLibrary());
  return library;
}

const automation::BoundInterface& DatabaseInterface() {
  static const automation::BoundInterface bound = BindInterface(DatabaseLibrary(), IID_IDatabase);
  return bound;
}

const automation::BoundInterface& FieldInterface() {
  static const automation::BoundInterface bound =
      BindInterface(DatabaseLibrary(), IID_IDatabaseField);
  return bound;
}

const automation::BoundInterface& ConnectionInterface() {
  static const automation::BoundInterface bound = BindInterface(DatabaseLibrary(), IID_IConnection);
  return bound;
}

const automation::BoundInterface& RecordsetInterface() {
  static const automation::BoundInterface bound = BindInterface(DatabaseLibrary(), IID_IRecordset);
  return bound;
}

const automation::BoundInterface& FieldsInterface() {
  static const automation::BoundInterface bound = BindInterface(DatabaseLibrary(), IID_IFields);
  return bound;
}

const automation::BoundInterface& RecordsetFieldInterface() {
  static const automation::BoundInterface bound =
      BindInterface(DatabaseLibrary(), IID_IRecordsetField);
  return bound;
}

}  // namespace database
