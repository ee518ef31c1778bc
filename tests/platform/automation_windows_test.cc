// The component library, the automation bridge and the charset decoder over
// the system's own COM objects.
#include "platform/automation_windows.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/charset_decoder.h"
#include "platform/component_library.h"
#include "platform/under_wine_windows.h"

namespace timesync::platform {
namespace {

using ::timesync::testing::UnderWine;

// One initialisation for the test's scope.
class ComponentLibraryScope {
 public:
  ComponentLibraryScope() { CoInitialize(); }
  ~ComponentLibraryScope() { CoUninitialize(); }
  ComponentLibraryScope(const ComponentLibraryScope&) = delete;
  ComponentLibraryScope& operator=(const ComponentLibraryScope&) = delete;
};

TEST(ComponentLibraryTest, NestedCallsAreCountedAndReportedAsTheSystemDoes) {
  const ComponentLibraryCounts before = ComponentLibraryCountsOnThisThread();
  EXPECT_EQ(CoInitialize(), kComponentLibraryInitialized);
  EXPECT_EQ(CoInitialize(), kComponentLibraryAlreadyInitialized);
  EXPECT_TRUE(CreateAutomationObject(L"VBScript.RegExp")) << "usable while initialised";
  CoUninitialize();
  CoUninitialize();
  const ComponentLibraryCounts after = ComponentLibraryCountsOnThisThread();
  EXPECT_EQ(after.initializations, before.initializations + 2);
  EXPECT_EQ(after.Balance(), before.Balance());
  EXPECT_EQ(CoInitialize(), kComponentLibraryInitialized) << "the system's count went back to 0";
  CoUninitialize();
}

TEST(AutomationTest, MembersByNameAndEmptyValuesForEveryFailedStep) {
  const ComponentLibraryScope library;
  const AutomationObject regexp = CreateAutomationObject(L"VBScript.RegExp");
  ASSERT_TRUE(regexp);
  EXPECT_TRUE(PutProperty(regexp, L"Pattern", VariantFromText(L"(a)(x)?")));
  EXPECT_TRUE(PutProperty(regexp, L"Global", VariantFromBool(true)));
  EXPECT_EQ(VariantToText(GetProperty(regexp, L"Pattern")), L"(a)(x)?");
  EXPECT_EQ(VariantToText(GetProperty(regexp, L"Global")), L"-1");

  const Variant subject = VariantFromText(
      L"\x770B"
      L"aa");
  const AutomationObject matches = ObjectOf(CallMethod(regexp, L"Execute", {&subject}));
  ASSERT_TRUE(matches);
  EXPECT_EQ(VariantToLong(GetProperty(matches, L"Count")), 2);
  const AutomationObject second = ObjectOf(GetIndexedProperty(matches, L"Item", 1));
  EXPECT_EQ(VariantToLong(GetProperty(second, L"FirstIndex")), 2) << "counted in UTF-16 units";
  const AutomationObject groups = ObjectOf(GetProperty(second, L"SubMatches"));
  EXPECT_EQ(VariantToText(GetIndexedProperty(groups, L"Item", 0)), L"a");
  EXPECT_TRUE(GetIndexedProperty(groups, L"Item", 1).IsEmpty()) << "a group that took no part";

  EXPECT_TRUE(GetProperty(regexp, L"NoSuchMember").IsEmpty());
  EXPECT_FALSE(PutProperty(regexp, L"NoSuchMember", VariantFromLong(1)));
  EXPECT_TRUE(CallMethod(AutomationObject(), L"Execute", {&subject}).IsEmpty());
  EXPECT_FALSE(ObjectOf(VariantFromLong(3)));
  EXPECT_FALSE(CreateAutomationObject(L"No.Such.ProgId"));

  // A pattern the object refuses fails at the search, with an empty value.
  EXPECT_TRUE(PutProperty(regexp, L"Pattern", VariantFromText(L"(a")));
  EXPECT_TRUE(CallMethod(regexp, L"Execute", {&subject}).IsEmpty());
}

TEST(CharsetDecoderTest, OpensKnownNamesOnlyAndHonoursTheFailureHook) {
  const ComponentLibraryScope library;
  CharsetDecoder decoder;
  EXPECT_EQ(decoder.Open("GBK"), CharsetDecoder::OpenResult::kOpened);
  EXPECT_TRUE(decoder.IsOpen());
  EXPECT_EQ(ConverterNameForCharset("GBK"), "gb2312");
  EXPECT_EQ(ConverterNameForCharset("UTF8"), "utf-8");
  EXPECT_EQ(decoder.Open("x-no-such-charset"), CharsetDecoder::OpenResult::kUnknownCharset);
  EXPECT_FALSE(decoder.IsOpen());
  {
    ScopedCharsetDecoderFailure failure;
    EXPECT_EQ(decoder.Open("utf-8"), CharsetDecoder::OpenResult::kUnavailable);
  }
  EXPECT_EQ(decoder.Open("utf-8"), CharsetDecoder::OpenResult::kOpened);
  decoder.Release();
  EXPECT_EQ(decoder.ReadText("abc"), "") << "an empty slot reads nothing";
}

TEST(CharsetDecoderTest, ReadsTheBodyInTheDeclaredCharset) {
  const ComponentLibraryScope library;
  CharsetDecoder decoder;
  ASSERT_EQ(decoder.Open("utf-8"), CharsetDecoder::OpenResult::kOpened);
  const std::string fromUtf8 =
      decoder.ReadText("\xEF\xBB\xBF\xE4\xB8\xAD-\xE2\x82\xAC");  // BOM 中-€
  if (UnderWine()) {
    GTEST_SKIP() << "Wine's Adodb.Stream does not implement ReadText";
  }
  EXPECT_EQ(fromUtf8, "\xD6\xD0-\x80");
  ASSERT_EQ(decoder.Open("big5"), CharsetDecoder::OpenResult::kOpened);
  EXPECT_EQ(decoder.ReadText("\xA4\xA4"), "\xD6\xD0");  // 中
  ASSERT_EQ(decoder.Open("gb2312"), CharsetDecoder::OpenResult::kOpened);
  EXPECT_EQ(decoder.ReadText("\x81\x40"), "\x81\x40") << "GBK characters beyond GB2312";
}

}  // namespace
}  // namespace timesync::platform
