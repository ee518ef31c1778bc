// The automation bridge on Windows: late-bound COM objects created from a
// ProgID and driven by member name through IDispatch. Every step that fails
// yields an empty value (VT_EMPTY, or a null object), never an error.
//
//   AutomationObject regexp = CreateAutomationObject(L"VBScript.RegExp");
//   PutProperty(regexp, L"Pattern", VariantFromText(L"a+"));
//   Variant matches = CallMethod(regexp, L"Execute", {VariantFromText(L"xaay")});
//   const long count = VariantToLong(GetProperty(ObjectOf(matches), L"Count"));  // 1
//
// The component library must be initialised on the calling thread
// (CoInitialize) while objects are made and used.
#ifndef TIMESYNC_PLATFORM_AUTOMATION_WINDOWS_H_
#define TIMESYNC_PLATFORM_AUTOMATION_WINDOWS_H_

// clang-format off
#include <windows.h>
#include <oaidl.h>
// clang-format on

#include <initializer_list>
#include <string>
#include <string_view>

namespace timesync::platform {

// An owned automation value, cleared on destruction.
class Variant {
 public:
  Variant() { ::VariantInit(&value_); }
  ~Variant() { ::VariantClear(&value_); }
  Variant(const Variant& other);
  Variant& operator=(const Variant& other);
  Variant(Variant&& other) noexcept;
  Variant& operator=(Variant&& other) noexcept;

  const VARIANT& get() const { return value_; }
  VARIANT* out() {
    ::VariantClear(&value_);
    return &value_;
  }
  bool IsEmpty() const { return value_.vt == VT_EMPTY || value_.vt == VT_NULL; }

 private:
  VARIANT value_;
};

// An owned IDispatch reference, released on destruction.
class AutomationObject {
 public:
  AutomationObject() = default;
  explicit AutomationObject(IDispatch* adopted) : object_(adopted) {}
  ~AutomationObject() { Release(); }
  AutomationObject(const AutomationObject& other);
  AutomationObject& operator=(const AutomationObject& other);
  AutomationObject(AutomationObject&& other) noexcept : object_(other.object_) {
    other.object_ = nullptr;
  }
  AutomationObject& operator=(AutomationObject&& other) noexcept;

  IDispatch* get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }
  void Release();

 private:
  IDispatch* object_ = nullptr;
};

// A new object of the class registered under `progId`; null on failure.
AutomationObject CreateAutomationObject(const wchar_t* progId);

// Member access by name. Failures give an empty value (or false).
Variant GetProperty(const AutomationObject& object, const wchar_t* name);
Variant GetIndexedProperty(const AutomationObject& object, const wchar_t* name, long index);
bool PutProperty(const AutomationObject& object, const wchar_t* name, const Variant& value);
Variant CallMethod(const AutomationObject& object, const wchar_t* name,
                   std::initializer_list<const Variant*> arguments = {});

// Values to and from automation.
Variant VariantFromText(std::wstring_view text);
Variant VariantFromBool(bool value);
Variant VariantFromLong(long value);
// A one-dimensional array of bytes (VT_ARRAY | VT_UI1).
Variant VariantFromBytes(std::string_view bytes);
// The value as text ("" when it cannot be converted); True gives "-1".
std::wstring VariantToText(const Variant& value);
long VariantToLong(const Variant& value);
// The object a VT_DISPATCH value holds; null otherwise.
AutomationObject ObjectOf(const Variant& value);

}  // namespace timesync::platform

#endif  // TIMESYNC_PLATFORM_AUTOMATION_WINDOWS_H_
