#include "platform/automation_windows.h"

#include <oleauto.h>

#include <cstring>
#include <vector>

namespace timesync::platform {
namespace {

DISPID MemberId(IDispatch* object, const wchar_t* name) {
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  if (FAILED(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) {
    return DISPID_UNKNOWN;
  }
  return id;
}

// Invokes `name` with `arguments` given in their natural order.
Variant Invoke(const AutomationObject& object, const wchar_t* name, WORD kind,
               std::vector<VARIANT> arguments) {
  Variant result;
  if (!object) return result;
  const DISPID id = MemberId(object.get(), name);
  if (id == DISPID_UNKNOWN) return result;
  // IDispatch takes the arguments last first.
  std::vector<VARIANT> reversed(arguments.rbegin(), arguments.rend());
  DISPPARAMS parameters = {};
  parameters.rgvarg = reversed.empty() ? nullptr : reversed.data();
  parameters.cArgs = static_cast<UINT>(reversed.size());
  DISPID named = DISPID_PROPERTYPUT;
  if (kind == DISPATCH_PROPERTYPUT) {
    parameters.rgdispidNamedArgs = &named;
    parameters.cNamedArgs = 1;
  }
  VARIANT* out = kind == DISPATCH_PROPERTYPUT ? nullptr : result.out();
  EXCEPINFO exception = {};
  const HRESULT status = object.get()->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, kind, &parameters,
                                              out, &exception, nullptr);
  if (exception.bstrSource != nullptr) ::SysFreeString(exception.bstrSource);
  if (exception.bstrDescription != nullptr) ::SysFreeString(exception.bstrDescription);
  if (exception.bstrHelpFile != nullptr) ::SysFreeString(exception.bstrHelpFile);
  if (FAILED(status)) return Variant();
  return result;
}

}  // namespace

Variant::Variant(const Variant& other) {
  ::VariantInit(&value_);
  ::VariantCopy(&value_, const_cast<VARIANT*>(&other.value_));
}

Variant& Variant::operator=(const Variant& other) {
  if (this != &other) {
    ::VariantClear(&value_);
    ::VariantCopy(&value_, const_cast<VARIANT*>(&other.value_));
  }
  return *this;
}

Variant::Variant(Variant&& other) noexcept : value_(other.value_) { ::VariantInit(&other.value_); }

Variant& Variant::operator=(Variant&& other) noexcept {
  if (this != &other) {
    ::VariantClear(&value_);
    value_ = other.value_;
    ::VariantInit(&other.value_);
  }
  return *this;
}

AutomationObject::AutomationObject(const AutomationObject& other) : object_(other.object_) {
  if (object_ != nullptr) object_->AddRef();
}

AutomationObject& AutomationObject::operator=(const AutomationObject& other) {
  if (this != &other) {
    if (other.object_ != nullptr) other.object_->AddRef();
    Release();
    object_ = other.object_;
  }
  return *this;
}

AutomationObject& AutomationObject::operator=(AutomationObject&& other) noexcept {
  if (this != &other) {
    Release();
    object_ = other.object_;
    other.object_ = nullptr;
  }
  return *this;
}

void AutomationObject::Release() {
  if (object_ != nullptr) object_->Release();
  object_ = nullptr;
}

AutomationObject CreateAutomationObject(const wchar_t* progId) {
  CLSID classId;
  if (FAILED(::CLSIDFromProgID(progId, &classId))) return AutomationObject();
  IDispatch* object = nullptr;
  if (FAILED(::CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                IID_IDispatch, reinterpret_cast<void**>(&object)))) {
    return AutomationObject();
  }
  return AutomationObject(object);
}

Variant GetProperty(const AutomationObject& object, const wchar_t* name) {
  return Invoke(object, name, DISPATCH_PROPERTYGET, {});
}

Variant GetIndexedProperty(const AutomationObject& object, const wchar_t* name, long index) {
  VARIANT argument;
  ::VariantInit(&argument);
  argument.vt = VT_I4;
  argument.lVal = index;
  return Invoke(object, name, DISPATCH_PROPERTYGET | DISPATCH_METHOD, {argument});
}

bool PutProperty(const AutomationObject& object, const wchar_t* name, const Variant& value) {
  if (!object) return false;
  const DISPID id = MemberId(object.get(), name);
  if (id == DISPID_UNKNOWN) return false;
  VARIANT argument = value.get();  // borrowed: Invoke does not take ownership
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS parameters = {&argument, &named, 1, 1};
  return SUCCEEDED(object.get()->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT,
                                        &parameters, nullptr, nullptr, nullptr));
}

Variant CallMethod(const AutomationObject& object, const wchar_t* name,
                   std::initializer_list<const Variant*> arguments) {
  std::vector<VARIANT> borrowed;
  for (const Variant* argument : arguments) borrowed.push_back(argument->get());
  return Invoke(object, name, DISPATCH_METHOD, std::move(borrowed));
}

Variant VariantFromText(std::wstring_view text) {
  Variant value;
  VARIANT* out = value.out();
  out->bstrVal = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  out->vt = out->bstrVal != nullptr ? VT_BSTR : VT_EMPTY;
  return value;
}

Variant VariantFromBool(bool value) {
  Variant result;
  VARIANT* out = result.out();
  out->vt = VT_BOOL;
  out->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  return result;
}

Variant VariantFromLong(long value) {
  Variant result;
  VARIANT* out = result.out();
  out->vt = VT_I4;
  out->lVal = value;
  return result;
}

Variant VariantFromBytes(std::string_view bytes) {
  Variant result;
  SAFEARRAY* array = ::SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
  if (array == nullptr) return result;
  void* data = nullptr;
  if (SUCCEEDED(::SafeArrayAccessData(array, &data))) {
    if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
    ::SafeArrayUnaccessData(array);
  }
  VARIANT* out = result.out();
  out->vt = VT_ARRAY | VT_UI1;
  out->parray = array;
  return result;
}

std::wstring VariantToText(const Variant& value) {
  if (value.get().vt == VT_BSTR) {
    const BSTR text = value.get().bstrVal;
    return text == nullptr ? std::wstring() : std::wstring(text, ::SysStringLen(text));
  }
  VARIANT converted;
  ::VariantInit(&converted);
  if (FAILED(::VariantChangeType(&converted, const_cast<VARIANT*>(&value.get()), 0, VT_BSTR)))
    return {};
  std::wstring text(converted.bstrVal, ::SysStringLen(converted.bstrVal));
  ::VariantClear(&converted);
  return text;
}

long VariantToLong(const Variant& value) {
  VARIANT converted;
  ::VariantInit(&converted);
  if (FAILED(::VariantChangeType(&converted, const_cast<VARIANT*>(&value.get()), 0, VT_I4)))
    return 0;
  return converted.lVal;
}

AutomationObject ObjectOf(const Variant& value) {
  if (value.get().vt != VT_DISPATCH || value.get().pdispVal == nullptr) return AutomationObject();
  value.get().pdispVal->AddRef();
  return AutomationObject(value.get().pdispVal);
}

}  // namespace timesync::platform
