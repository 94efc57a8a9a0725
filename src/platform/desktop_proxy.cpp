#include "platform/desktop_proxy.h"

#include <proxy.h>

#include <string_view>

namespace zavoket {

struct DesktopProxy::Factory {
    Factory() : handle(px_proxy_factory_new()) {}
    ~Factory() {
        if (handle != nullptr) {
            px_proxy_factory_free(handle);
        }
    }
    pxProxyFactory* handle;
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
    char** proxies = px_proxy_factory_get_proxies(factory_->handle, url.c_str());
    std::string chosen;
    // The first the settings name that libcurl can use; "direct://" means none.
    for (char** proxy = proxies; proxy != nullptr && *proxy != nullptr; ++proxy) {
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
    if (proxies != nullptr) {
        px_proxy_factory_free_proxies(proxies);
    }
    return chosen;
}

}  // namespace zavoket
