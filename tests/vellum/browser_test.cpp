// SaveImage to the browser: the order of the response calls, the headers, the
// buffering and the pieces, against a recording response.
#include <gtest/gtest.h>

#include <random>

#include "tests/support/recording_web.h"
#include "tests/vellum/image_io_support.h"
#include "vellum/response_output.h"

namespace {

using testing_support::PageRequest;
using testing_support::RecordingResponse;
using vellum_testing::CallResult;

constexpr int kBrowser = 2;
constexpr int kBmp = 1;
constexpr int kJpeg = 3;
constexpr int kPcx = 5;
constexpr int kPsd = 9;
constexpr int kWebp = 11;
constexpr int kAvif = 12;

class BrowserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(easel_);
    std::mt19937 rng(11);
    easel_.Install(testing_support::RandomImage(rng, 8, 6));
  }
  // Saves to the browser while a page with that script name is served.
  CallResult SaveToPage(int format, Variant name, std::u16string scriptName = u"/a/b/report.asp") {
    const ComPtr<IObjectContext> context =
        web::MakePageContext(response_.Get(), PageRequest::Make(std::move(scriptName)).Get());
    const web::ObjectContextScope page(context.Get());
    return easel_.Save(kBrowser, format, std::move(name));
  }
  std::vector<std::string> CallsBefore(const char* first) const {
    std::vector<std::string> calls;
    for (const std::string& call : response_->calls) {
      if (call == first) break;
      calls.push_back(call);
    }
    return calls;
  }

  vellum_testing::EaselSession easel_;
  ComPtr<RecordingResponse> response_ = RecordingResponse::Make();
};

TEST_F(BrowserTest, AttachmentsAreNamedAfterThePage) {
  response_->buffered = VARIANT_FALSE;
  ASSERT_EQ(SaveToPage(kPsd, Variant()).hr, S_OK);
  EXPECT_EQ(response_->headers, std::vector<std::u16string>{
                                    u"Content-Disposition: attachment; filename=\"report.PSD\""});
  EXPECT_EQ(response_->contentType, u"image/psd");
  EXPECT_EQ(response_->calls, (std::vector<std::string>{"Buffer?", "AddHeader", "ContentType",
                                                        "IsClientConnected", "BinaryWrite"}));
  EXPECT_EQ(response_->body, easel_.SaveToMemory(kPsd));

  // An empty name, or a script name without a path, ask for the same.
  response_ = RecordingResponse::Make();
  ASSERT_EQ(SaveToPage(kPcx, Variant::String(u""), u"report").hr, S_OK);
  EXPECT_EQ(response_->headers.at(0), u"Content-Disposition: attachment; filename=\"SaveAs.pcx\"");
  response_ = RecordingResponse::Make();
  ASSERT_EQ(SaveToPage(kPcx, Variant(), u"/shop/photo").hr, S_OK);
  EXPECT_EQ(response_->headers.at(0), u"Content-Disposition: attachment; filename=\"photo.PCX\"");
}

TEST_F(BrowserTest, ShownFormatsGetOnlyTheirType) {
  for (const auto& [format, type] :
       {std::pair{kJpeg, u"image/jpeg"}, std::pair{kWebp, u"image/webp"},
        std::pair{kAvif, u"image/avif"}}) {
    response_ = RecordingResponse::Make();
    ASSERT_EQ(SaveToPage(format, Variant::String(u"ignored.jpg")).hr, S_OK) << format;
    EXPECT_TRUE(response_->headers.empty()) << format;
    EXPECT_EQ(response_->contentType, type);
    EXPECT_EQ(response_->body, easel_.SaveToMemory(format)) << format;
  }
}

// A caller that leaves the name out (VT_ERROR, as a late-bound call's missing argument)
// gets the page's name too.
TEST(DownloadNameTest, MissingNamesAskForThePagesName) {
  const Variant missing = Variant::Missing();
  EXPECT_EQ(vellum::DownloadName(missing, u"/x/y.z/report.v2.asp", kPsd), u"report.v2.PSD");
  EXPECT_EQ(vellum::DownloadName(missing, u"/x/noext", kJpeg), u"noext.JPG");
  EXPECT_EQ(vellum::DownloadName(missing, u"", kBmp), u"SaveAs.bmp");
  EXPECT_EQ(vellum::DownloadName(missing, u"/photos/cat.asp", kWebp), u"cat.WEBP");
  EXPECT_EQ(vellum::DownloadName(missing, u"", kAvif), u"SaveAs.avif");
  Variant empty = Variant::String(u"");
  EXPECT_EQ(vellum::DownloadName(vellum_testing::Reference(&empty), u"/p.asp", kPcx), u"p.PCX");
  EXPECT_EQ(vellum::DownloadName(Variant::Double(2.5), u"/p.asp", kPcx), u"2.5");
}

TEST_F(BrowserTest, AGivenNameIsUsedAsItIsButCannotBreakTheHeader) {
  ASSERT_EQ(SaveToPage(kPcx, Variant::Long(42)).hr, S_OK);
  EXPECT_EQ(response_->headers.at(0), u"Content-Disposition: attachment; filename=\"42\"");
  response_ = RecordingResponse::Make();
  ASSERT_EQ(SaveToPage(kPcx, Variant::String(u"a\"b\r\nSet-Cookie: x")).hr, S_OK);
  EXPECT_EQ(response_->headers.at(0),
            u"Content-Disposition: attachment; filename=\"a\\\"bSet-Cookie: x\"");
  response_ = RecordingResponse::Make();
  ASSERT_EQ(SaveToPage(kPcx, Variant::String(std::u16string(400, u'n'))).hr, S_OK);
  EXPECT_EQ(response_->headers.at(0).size(),
            std::u16string(u"Content-Disposition: attachment; filename=\"\"").size() + 259);
}

TEST_F(BrowserTest, BufferingFollowsBufferResponse) {
  struct Case {
    VARIANT_BOOL buffered;
    bool wanted;
    std::vector<std::string> before;
  };
  const Case cases[] = {
      {VARIANT_TRUE, false, {"Buffer?", "Clear", "Buffer=0"}},
      {VARIANT_FALSE, true, {"Buffer?", "Clear", "Buffer=-1"}},
      {VARIANT_TRUE, true, {"Buffer?"}},
      {VARIANT_FALSE, false, {"Buffer?"}},
  };
  for (const Case& c : cases) {
    response_ = RecordingResponse::Make();
    response_->buffered = c.buffered;
    ASSERT_EQ(easel_.Script().Put(u"BufferResponse", c.wanted).hr, S_OK);
    ASSERT_EQ(SaveToPage(kPsd, Variant()).hr, S_OK);
    EXPECT_EQ(CallsBefore("AddHeader"), c.before);
  }
}

TEST_F(BrowserTest, LargeImagesGoOutInPiecesWhileTheClientStays) {
  std::mt19937 rng(5);
  easel_.Install(testing_support::RandomImage(rng, 200, 200));
  const std::vector<uint8_t> bmp = easel_.SaveToMemory(kBmp);
  ASSERT_EQ(bmp.size(), 120054u);
  ASSERT_EQ(SaveToPage(kBmp, Variant()).hr, S_OK);
  EXPECT_EQ(response_->pieceSizes, (std::vector<size_t>{65535, 120054 - 65535}));
  EXPECT_EQ(response_->body, bmp);

  // A client that leaves after the first piece is no failure.
  response_ = RecordingResponse::Make();
  response_->connectedPieces = 1;
  EXPECT_EQ(SaveToPage(kBmp, Variant()).hr, S_OK);
  EXPECT_EQ(response_->pieceSizes, std::vector<size_t>{65535});
  EXPECT_EQ(easel_.ErrorDescription(), u"");
}

TEST_F(BrowserTest, AResponseThatFailsFailsTheSave) {
  response_->failBinaryWrite = true;
  EXPECT_EQ(SaveToPage(kBmp, Variant()).hr, DISP_E_EXCEPTION);
  EXPECT_TRUE(easel_.ErrorDescription().ends_with(u"Operation failed\r\n"));
  response_ = RecordingResponse::Make();
  response_->failConnectedQuery = true;
  EXPECT_EQ(SaveToPage(kBmp, Variant()).hr, DISP_E_EXCEPTION);
  response_ = RecordingResponse::Make();
  response_->failBufferQuery = true;
  EXPECT_EQ(SaveToPage(kBmp, Variant()).hr, DISP_E_EXCEPTION);
  EXPECT_TRUE(response_->body.empty());
  // A response that cannot be set up for the image (output already sent, say) gets no
  // image bytes, and the save says so.
  for (const char* call : {"Clear", "Buffer=0", "AddHeader", "ContentType"}) {
    SCOPED_TRACE(call);
    response_ = RecordingResponse::Make();
    response_->failingCall = call;
    EXPECT_EQ(SaveToPage(kPcx, Variant()).hr, DISP_E_EXCEPTION);
    EXPECT_TRUE(easel_.ErrorDescription().ends_with(u"Operation failed\r\n"));
    EXPECT_TRUE(response_->body.empty());
  }
}

TEST_F(BrowserTest, WithoutAPageTheSaveFails) {
  const CallResult saved = easel_.Save(kBrowser, kBmp, Variant());
  EXPECT_EQ(saved.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(saved.source, u"Quillmark.Easel.1");
  EXPECT_TRUE(easel_.ErrorDescription().ends_with(u"Operation failed\r\n"));
  // A page without a request object fails as well.
  const ComPtr<IObjectContext> context = web::MakePageContext(response_.Get(), nullptr);
  const web::ObjectContextScope page(context.Get());
  EXPECT_EQ(easel_.Save(kBrowser, kBmp, Variant()).hr, DISP_E_EXCEPTION);
  EXPECT_TRUE(response_->calls.empty());
}

}  // namespace
