#include "platform/web/web_context.h"

#include <gtest/gtest.h>

#include <thread>

#include "tests/support/automation.h"
#include "tests/support/recording_web.h"

namespace {

using testing_support::PageRequest;
using testing_support::RecordingResponse;

ComPtr<IObjectContext> Current() {
  ComPtr<IObjectContext> context;
  GetObjectContext(context.Receive());
  return context;
}

ComPtr<IDispatch> Property(IObjectContext* context, const char16_t* name, HRESULT* hr) {
  ComPtr<IGetContextProperties> properties;
  EXPECT_EQ(context->QueryInterface(IID_IGetContextProperties, properties.ReceiveVoid()), S_OK);
  const Bstr text{std::u16string_view(name)};
  Variant value;
  *hr = properties->GetProperty(text.Get(), &value);
  return value.vt == VT_DISPATCH ? ComPtr<IDispatch>(value.pdispVal) : nullptr;
}

TEST(WebContextTest, AThreadServingNoPageHasNoContext) {
  IObjectContext* context = reinterpret_cast<IObjectContext*>(1);
  EXPECT_EQ(GetObjectContext(&context), CONTEXT_E_NOCONTEXT);
  EXPECT_EQ(context, nullptr);
  EXPECT_EQ(GetObjectContext(nullptr), E_POINTER);
}

TEST(WebContextTest, ScopesSetTheContextOfTheirThreadOnly) {
  const ComPtr<RecordingResponse> response = RecordingResponse::Make();
  const ComPtr<PageRequest> request = PageRequest::Make(u"/page.asp");
  const ComPtr<IObjectContext> outer = web::MakePageContext(response.Get(), request.Get());
  const ComPtr<IObjectContext> inner = web::MakePageContext(nullptr, nullptr);
  {
    const web::ObjectContextScope page(outer.Get());
    EXPECT_EQ(Current().Get(), outer.Get());
    {
      const web::ObjectContextScope nested(inner.Get());
      EXPECT_EQ(Current().Get(), inner.Get());
    }
    EXPECT_EQ(Current().Get(), outer.Get());
    std::thread([] { EXPECT_FALSE(Current()); }).join();
  }
  EXPECT_FALSE(Current());
}

TEST(WebContextTest, TheContextGivesThePagesObjects) {
  const ComPtr<RecordingResponse> response = RecordingResponse::Make();
  const ComPtr<PageRequest> request = PageRequest::Make(u"/page.asp");
  const ComPtr<IObjectContext> context = web::MakePageContext(response.Get(), request.Get());
  HRESULT hr = E_FAIL;
  const ComPtr<IDispatch> found = Property(context.Get(), u"Response", &hr);
  EXPECT_EQ(hr, S_OK);
  ComPtr<IResponse> asResponse;
  ASSERT_EQ(found.As(&asResponse), S_OK);
  EXPECT_EQ(asResponse.Get(), static_cast<IResponse*>(response.Get()));
  EXPECT_TRUE(Property(context.Get(), u"Request", &hr));
  EXPECT_FALSE(Property(context.Get(), u"Session", &hr));
  EXPECT_EQ(hr, E_INVALIDARG);
  EXPECT_FALSE(Property(web::MakePageContext(nullptr, nullptr).Get(), u"Response", &hr));
}

// Implementations get their IDispatch from the shared descriptions, so page scripts
// reach the same members by name.
TEST(WebContextTest, ResponseAndRequestAnswerByName) {
  const ComPtr<RecordingResponse> response = RecordingResponse::Make();
  testing_support::Automation script(response.Get());
  EXPECT_EQ(script.Put(u"Buffer", false).hr, S_OK);
  EXPECT_EQ(script.Get(u"Buffer").Long(), 0);
  EXPECT_EQ(script.Put(u"ContentType", u"image/png").hr, S_OK);
  EXPECT_EQ(response->contentType, u"image/png");
  EXPECT_EQ(script.Call(u"AddHeader", u"X-Name", u"value").hr, S_OK);
  EXPECT_EQ(response->headers.back(), u"X-Name: value");
  EXPECT_EQ(script.Get(u"IsClientConnected").Long(), -1);

  const ComPtr<PageRequest> request = PageRequest::Make(u"/shop/photo.asp");
  testing_support::Automation requestScript(request.Get());
  const testing_support::CallResult variables = requestScript.Get(u"ServerVariables");
  ASSERT_EQ(variables.value.vt, VT_DISPATCH);
  testing_support::Automation lookup(variables.value.pdispVal);
  EXPECT_EQ(lookup.Get(u"Item", u"SCRIPT_NAME").Text(), u"/shop/photo.asp");
}

}  // namespace
