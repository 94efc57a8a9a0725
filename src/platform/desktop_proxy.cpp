#include "platform/desktop_proxy.h"

#include <proxy.h>

#include <string_view>

namespace zavoket {

struct DesktopProxy::Factory {
    std::unique_ptr<pxProxyFactory, decltype(&px_proxy_factory_free)> handle{
        px_proxy_factory_new(), &px_proxy_factory_free};
};

DesktopProxy::DesktopProxy() = default;
DesktopProxy::~DesktopProxy() = default;

std::string DesktopProxy::proxyFor(const std::string& url) {
    if (!factory_) {
        factory_ = std::make_unique<Factory>();
    }
    if (factory_->handle == nullptr) {
        return {};
    }
    const std::unique_ptr<char*[], decltype(&px_proxy_factory_free_proxies)> proxies(
        px_proxy_factory_get_proxies(factory_->handle.get(), url.c_str()),
        &px_proxy_factory_free_proxies);
    std::string chosen;
    // The first the settings name that libcurl can use; "direct://" means none.
    for (char** proxy = proxies.get(); proxy != nullptr && *proxy != nullptr; ++proxy) {
        const std::string_view candidate(*proxy);
        if (candidate.starts_with("direct://")) {
            break;
        }
        if (candidate.starts_with("http://") || candidate.starts_with("https://") ||
            candidate.starts_with("socks")) {
            chosen = candidate;
            break;
        }
    }
    return chosen;
}

}  // namespace zavoket
