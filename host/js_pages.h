// The .js page layer: a site's .js files run as page scripts with Response and Request,
// each in a fresh engine heap on the worker's thread, with the page's object context
// current so that the objects it creates write into its response.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "host/page_handler.h"

namespace host {

class JsPageHandler final : public PageHandler {
 public:
  bool IsPage(std::string_view realPath) const override;
  std::vector<std::string> IndexNames() const override;
  bool Start(HostServices& services, std::string* error) override;
  void Stop() override {}
  void Serve(RequestRecord& request, ResponseSink& response) override;

 private:
  HostServices* services_ = nullptr;
};

}  // namespace host
