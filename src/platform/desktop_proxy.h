#pragma once

#include <memory>
#include <string>

namespace zavoket {

// Which proxy a URL goes through, as the desktop's settings have it: GNOME's or KDE's, a PAC
// script or WPAD where the system's libproxy plugins handle them, else http_proxy, https_proxy
// and no_proxy. Asked on one thread only: the first question reads the settings, which can
// take a while.
class DesktopProxy {
  public:
    DesktopProxy();
    ~DesktopProxy();
    DesktopProxy(const DesktopProxy&) = delete;
    DesktopProxy& operator=(const DesktopProxy&) = delete;

    // A proxy URL as libcurl takes it ("http://host:port", "socks5://host:port"), or "" to go
    // directly.
    [[nodiscard]] std::string proxyFor(const std::string& url);

  private:
    struct Factory;
    std::unique_ptr<Factory> factory_;
};

}  // namespace zavoket
