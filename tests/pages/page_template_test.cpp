// .asp templates: pages are made into scripts and run in a plain engine heap whose
// __vellum_text and __vellum_write collect the output, so the tests check what a page
// writes rather than the script text.
#include "host/pages/page_template.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "script/script_globals.h"

namespace {

using pages::PageTemplate;
using pages::TemplateError;

using SiteFiles = std::map<std::string, std::string>;

pages::SiteFileReader ReaderOf(const SiteFiles& files) {
  return [&files](const std::string& path, std::string* content, std::string* error) {
    const auto found = files.find(path);
    if (found == files.end()) {
      *error = "no such file";
      return false;
    }
    *content = found->second;
    return true;
  };
}

std::variant<PageTemplate, TemplateError> Parse(const SiteFiles& files,
                                                const std::string& page = "/page.asp") {
  return pages::ParsePageTemplate(page, ReaderOf(files));
}

// Output collected from the template's calls; the output and the texts are kept in
// the heap's stash.
void* StashPointer(duk_context* ctx, const char* key) {
  duk_push_global_stash(ctx);
  duk_get_prop_string(ctx, -1, key);
  void* pointer = duk_get_pointer(ctx, -1);
  duk_pop_2(ctx);
  return pointer;
}

duk_ret_t CollectText(duk_context* ctx) {
  const auto* texts = static_cast<const std::vector<std::string>*>(StashPointer(ctx, "texts"));
  const auto index = static_cast<size_t>(duk_require_uint(ctx, 0));
  *static_cast<std::string*>(StashPointer(ctx, "out")) += texts->at(index);
  return 0;
}

duk_ret_t CollectValue(duk_context* ctx) {
  const std::string value = duk_safe_to_string(ctx, 0);
  *static_cast<std::string*>(StashPointer(ctx, "out")) += value;
  return 0;
}

struct RunResult {
  bool ran = false;
  std::string output;
  int errorLine = 0;  // the engine's line of the error, when the script failed
};

RunResult RunTemplate(const PageTemplate& page) {
  RunResult result;
  duk_context* ctx = script::CreateHeap();
  duk_push_global_stash(ctx);
  duk_push_pointer(ctx, &result.output);
  duk_put_prop_string(ctx, -2, "out");
  duk_push_pointer(ctx, const_cast<std::vector<std::string>*>(&page.texts));
  duk_put_prop_string(ctx, -2, "texts");
  duk_pop(ctx);
  duk_push_c_function(ctx, CollectText, 1);
  duk_put_global_string(ctx, "__vellum_text");
  duk_push_c_function(ctx, CollectValue, 1);
  duk_put_global_string(ctx, "__vellum_write");
  result.ran = script::RunSource(ctx, page.script, "page");
  if (!result.ran && duk_get_prop_string(ctx, -1, "lineNumber")) {
    result.errorLine = duk_get_int(ctx, -1);
  }
  duk_destroy_heap(ctx);
  return result;
}

struct OutputCase {
  const char* name;
  SiteFiles files;  // the page is /dir/page.asp
  std::string expected;
};

class TemplateOutput : public ::testing::TestWithParam<OutputCase> {};

TEST_P(TemplateOutput, WritesWhatThePageSays) {
  const auto parsed = Parse(GetParam().files, "/dir/page.asp");
  ASSERT_TRUE(std::holds_alternative<PageTemplate>(parsed))
      << std::get<TemplateError>(parsed).Text();
  const RunResult run = RunTemplate(std::get<PageTemplate>(parsed));
  EXPECT_TRUE(run.ran) << std::get<PageTemplate>(parsed).script;
  EXPECT_EQ(run.output, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Pages, TemplateOutput,
    ::testing::Values(
        OutputCase{
            "TextCodeAndOutput", {{"/dir/page.asp", "a<% var x = 2 %>b<%= x * 3 %>c"}}, "ab6c"},
        OutputCase{"LoopsAroundText",
                   {{"/dir/page.asp", "<% for (var i = 0; i < 3; i++) { %>[<%= i %>]<% } %>."}},
                   "[0][1][2]."},
        OutputCase{"TextIsTheBodyOfABareIf",
                   {{"/dir/page.asp", "<% if (false) %>hidden<% ; %>shown"}},
                   "shown"},
        OutputCase{"CommentsInBlocksEndWithTheBlock",
                   {{"/dir/page.asp", "<% var a = 1 // one %>x<%= a // value %>y"}},
                   "x1y"},
        OutputCase{"Directive", {{"/dir/page.asp", "<%@ Language=\"JScript\" %>\nok"}}, "\nok"},
        OutputCase{"ServerScriptBlock",
                   {{"/dir/page.asp",
                     "<script language=\"JavaScript\" runat=\"Server\">\nfunction f() { return 5; "
                     "}\n</script><%= f() %>"}},
                   "5"},
        OutputCase{"ClientScriptIsText",
                   {{"/dir/page.asp", "<script>var a = \"<%= 1 + 1 %>\";</script>"}},
                   "<script>var a = \"2\";</script>"},
        OutputCase{"IncludesFileAndVirtual",
                   {{"/dir/page.asp", "A<!-- #include file=\"inc/a.inc\" -->B"},
                    {"/dir/inc/a.inc",
                     "[<!--#INCLUDE VIRTUAL='/top.inc'-->|<!-- #include "
                     "file=\"../sibling.inc\" -->]"},
                    {"/top.inc", "<%= \"top\" %>"},
                    {"/dir/sibling.inc", "sib"}},
                   "A[top|sib]B"},
        OutputCase{"CommentsAndStrayMarksAreText",
                   {{"/dir/page.asp", "<!-- note --> 50%> <scripts> <script"}},
                   "<!-- note --> 50%> <scripts> <script"},
        OutputCase{"LineBreaksKept",
                   {{"/dir/page.asp", "a\r\n<% var y = 1\r\n%>\r\n<%= y %>\rz"}},
                   "a\r\n\r\n1\rz"}),
    [](const ::testing::TestParamInfo<OutputCase>& test) { return std::string(test.param.name); });

struct ErrorCase {
  const char* name;
  SiteFiles files;  // the page is /page.asp
  std::string file;
  int line;
  std::string message;
};

class TemplateErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(TemplateErrors, NameTheFileAndLine) {
  const auto parsed = Parse(GetParam().files);
  ASSERT_TRUE(std::holds_alternative<TemplateError>(parsed));
  const TemplateError& error = std::get<TemplateError>(parsed);
  EXPECT_EQ(error.where.file, GetParam().file);
  EXPECT_EQ(error.where.line, GetParam().line);
  EXPECT_NE(error.message.find(GetParam().message), std::string::npos) << error.message;
}

INSTANTIATE_TEST_SUITE_P(
    Pages, TemplateErrors,
    ::testing::Values(
        ErrorCase{
            "UnclosedBlock", {{"/page.asp", "a\nb\n<% var x\n = 1"}}, "/page.asp", 3, "not closed"},
        ErrorCase{"UnclosedServerScript",
                  {{"/page.asp", "\n<script runat=server>\nx()"}},
                  "/page.asp",
                  2,
                  "not closed"},
        ErrorCase{"OtherLanguage",
                  {{"/page.asp", "<%@ Language=\"VBScript\" %>"}},
                  "/page.asp",
                  1,
                  "only JScript or JavaScript"},
        ErrorCase{"DirectiveAfterScript",
                  {{"/page.asp", "<% var a %>\n<%@ Language=JScript %>"}},
                  "/page.asp",
                  2,
                  "before any script"},
        ErrorCase{"UnknownDirective",
                  {{"/page.asp", "<%@ Transaction=Required %>"}},
                  "/page.asp",
                  1,
                  "Transaction"},
        ErrorCase{"MissingInclude",
                  {{"/page.asp", "x\n<!-- #include file=\"inc.inc\" -->"},
                   {"/inc.inc", "\n\n<!-- #include virtual=\"/gone.inc\" -->"}},
                  "/inc.inc",
                  3,
                  "cannot include /gone.inc"},
        ErrorCase{"IncludeLeavesTheSite",
                  {{"/page.asp", "<!-- #include file=\"../etc/passwd\" -->"}},
                  "/page.asp",
                  1,
                  "leaves the site"},
        ErrorCase{"IncludesItself",
                  {{"/page.asp", "<!-- #include file=\"page.asp\" -->"}},
                  "/page.asp",
                  1,
                  "16 deep"},
        ErrorCase{"UnreadableInclude",
                  {{"/page.asp", "<!-- #include file -->"}},
                  "/page.asp",
                  1,
                  "#include"}),
    [](const ::testing::TestParamInfo<ErrorCase>& test) { return std::string(test.param.name); });

TEST(PageTemplate, ScriptErrorsMapToTheFileAndLineTheyCameFrom) {
  const SiteFiles files = {
      {"/page.asp", "<h1>\n</h1>\n<!-- #include file=\"lib.inc\" -->\n<%\nfail();\n%>"},
      {"/lib.inc", "<%\nfunction fail() {\n\n  null.x = 1;\n}\n%>"}};
  const auto parsed = Parse(files);
  ASSERT_TRUE(std::holds_alternative<PageTemplate>(parsed));
  const PageTemplate& page = std::get<PageTemplate>(parsed);
  const RunResult run = RunTemplate(page);
  ASSERT_FALSE(run.ran);
  const pages::SourcePosition where = page.Locate(run.errorLine);
  EXPECT_EQ(where.file, "/lib.inc");
  EXPECT_EQ(where.line, 4);
}

TEST(PageTemplate, GlobalFileKeepsOnlyServerScripts) {
  const SiteFiles files = {{"/global.asa",
                            "<object id=x></object>\n<SCRIPT LANGUAGE=\"JScript\" RUNAT=\"Server\">"
                            "\nfunction Application_OnStart() { return 1; }\n</SCRIPT>\nignored"}};
  const auto parsed = pages::ParseGlobalFile("/global.asa", ReaderOf(files));
  ASSERT_TRUE(std::holds_alternative<PageTemplate>(parsed));
  const RunResult run = RunTemplate(std::get<PageTemplate>(parsed));
  EXPECT_TRUE(run.ran);
  EXPECT_EQ(run.output, "");

  const SiteFiles withBlock = {{"/global.asa", "\n<% Response.Write(1) %>"}};
  const auto refused = pages::ParseGlobalFile("/global.asa", ReaderOf(withBlock));
  ASSERT_TRUE(std::holds_alternative<TemplateError>(refused));
  EXPECT_EQ(std::get<TemplateError>(refused).where.line, 2);
}

TEST(ResolveSitePath, StaysInsideTheSite) {
  using pages::ResolveSitePath;
  EXPECT_EQ(ResolveSitePath("/a/b/page.asp", "x.inc"), "/a/b/x.inc");
  EXPECT_EQ(ResolveSitePath("/a/b/page.asp", "../x.inc"), "/a/x.inc");
  EXPECT_EQ(ResolveSitePath("/a/b/page.asp", "/x.inc"), "/x.inc");
  EXPECT_EQ(ResolveSitePath("/a/b/page.asp", "inc\\.\\x.inc"), "/a/b/inc/x.inc");
  EXPECT_EQ(ResolveSitePath("/a/page.asp", "../../x.inc"), std::nullopt);
  EXPECT_EQ(ResolveSitePath("/page.asp", "/../x"), std::nullopt);
  EXPECT_EQ(ResolveSitePath("/page.asp", std::string_view("a\0b", 3)), std::nullopt);
}

}  // namespace
