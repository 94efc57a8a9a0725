#include "catalogue/catalogue.h"

#include <string_view>

namespace zavoket {
namespace {

// Download order. It is not sorted ("1309-A.jpg" before "1309-1-A.mpg", the 1715 pair before
// the 1714 group) and must stay exactly as it is: the progress count of each file follows it.
constexpr std::array<std::string_view, Catalogue::kSize> kLocalNames = {
    "1101-A.jpg",   "1102-1-A.jpg", "1102-2-A.jpg", "1103-1.mpg",   "1201-A.jpg",   "1202-A.jpg",
    "1301-1-A.jpg", "1301-2-A.jpg", "1302-1-A.mpg", "1302-2-A.mpg", "1302-3-A.mpg", "1302-4-A.mpg",
    "1303-A.jpg",   "1304-1-A.mpg", "1304-2-A.mpg", "1305-1-A.jpg", "1305-2-A.jpg", "1306-1-A.mpg",
    "1306-2-A.mpg", "1307-1-A.jpg", "1307-2-A.jpg", "1309-A.jpg",   "1309-1-A.mpg", "1309-2-A.mpg",
    "1310-1-A.jpg", "1310-2-A.jpg", "1401-1-A.jpg", "1401-2-A.jpg", "1402-1-A.mpg", "1402-2-A.mpg",
    "1403-1-A.jpg", "1404-1-A.mpg", "1404-2-A.mpg", "1404-3-A.mpg", "1405-1-A.mpg", "1405-2-A.mpg",
    "1406-1-A.mpg", "1501-A.jpg",   "1502-A.jpg",   "1503-A.jpg",   "1504-1-A.mpg", "1504-2-A.mpg",
    "1504-3-A.mpg", "1504-4-A.mpg", "1504-5-A.mpg", "1505-1-A.mpg", "1505-2-A.mpg", "1505-3-A.mpg",
    "1505-4-A.mpg", "1505-5-A.mpg", "1506-1-A.jpg", "1506-2-A.jpg", "1507-A.jpg",   "1508-1-A.mpg",
    "1508-2-A.mpg", "1509-1-A.jpg", "1509-2-A.jpg", "1509-3-A.jpg", "1510-1-A.jpg", "1511-1-A.mpg",
    "1511-2-A.mpg", "1511-3-A.mpg", "1511-4-A.mpg", "1511-5-A.mpg", "1512-1-A.jpg", "1512-2-A.jpg",
    "1513-1-A.mpg", "1513-2-A.mpg", "1513-3-A.mpg", "1601-1-A.jpg", "1601-2-A.jpg", "1602-1-A.mpg",
    "1603-1-A.jpg", "1603-2-A.jpg", "1603-3-A.jpg", "1603-4-A.jpg", "1604-1.jpg",   "1604-2.jpg",
    "1604-3.jpg",   "1604-4.jpg",   "1605-1-A.mpg", "1606-1.jpg",   "1606-2.jpg",   "1607-A.jpg",
    "1608-1-A.mpg", "1608-2-A.mpg", "1609-A.jpg",   "1610-1-A.mpg", "1701-A.jpg",   "1702-A.jpg",
    "1703-A.jpg",   "1704-A.jpg",   "1705-1-A.mpg", "1706-1.mpg",   "1706-2.mpg",   "1706-3.mpg",
    "1707-1.mpg",   "1707-2.mpg",   "1707-3.mpg",   "1707-4.mpg",   "1707-5.mpg",   "1708-1.mpg",
    "1708-2.mpg",   "1709-1.mpg",   "1709-2.mpg",   "1709-3.mpg",   "1710-1.mpg",   "1710-2.mpg",
    "1711-1.mpg",   "1711-2.mpg",   "1712-1.mpg",   "1713-1.mpg",   "1713-2.mpg",   "1713-3.mpg",
    "1715-1.mpg",   "1715-2.mpg",   "1714-1.mpg",   "1714-2.mpg",   "1714-3.mpg",   "1714-4.mpg",
    "2101-A.jpg",   "2102-A.jpg",   "2103-A.jpg",   "2104-A.jpg",   "2105-A.jpg",   "2106-1-A.jpg",
    "2106-2-A.jpg", "2107-A.jpg",   "2108-A.jpg",   "2109-A.jpg",   "2110-A.jpg",   "2111-1-A.jpg",
    "2111-2-A.jpg", "2112-A.jpg",   "3101-1.mpg",   "3101-2.mpg",   "3102-1.mpg",   "3103-1.mpg",
    "3104-1.mpg",   "3105-1.mpg",   "3105-2.mpg",   "3106-1.mpg",   "3106-2.mpg",   "3107-1.mpg",
    "3107-2.mpg",   "3108-1.mpg",   "3108-2.mpg",   "3108-3.mpg",   "4101-A.jpg",   "4102-A.jpg",
    "4103-A.jpg",   "4104-A.jpg",   "4105-A.jpg",   "4106-A.jpg",   "4107-A.jpg",   "4108-1-A.jpg",
    "4108-2-A.jpg", "4201-1.mpg",   "4201-2.mpg",   "4201-3.mpg",   "4202-1-1.mpg", "4202-2-1.mpg",
    "4202-2-2.mpg", "4202-2-3.mpg", "4202-2-4.mpg", "4202-2-5.mpg", "4202-2-6.mpg", "4203-1.mpg",
    "4203-2.mpg",   "4203-3.mpg",   "4203-4.mpg",   "4204-1.mpg",   "4204-2.mpg",   "4205-1.mpg",
    "4205-2.mpg",   "4205-3.mpg",   "4206-1.mpg",   "4206-2.mpg",   "4208-1.mpg",   "4208-2.mpg",
    "4208-3.mpg",   "4208-4.mpg",   "5101-1.mpg",   "5101-2.mpg",   "5101-3.mpg",   "5101-4.mpg",
    "5102-1.mpg",   "5102-2.mpg",   "5102-3.mpg",   "5103-1.mpg",   "5103-2.mpg",   "5103-3.mpg",
    "5104-1.mpg",   "5104-2.mpg",
};

}  // namespace

void Catalogue::fill() {
    for (std::size_t i = 0; i < kSize; ++i) {
        localNames_.at(i) = kLocalNames.at(i);
    }
    for (std::size_t i = 0; i < kSize; ++i) {
        const std::string_view name = kLocalNames.at(i);
        remotePaths_.at(i) = std::string(name.substr(0, 4)) + "\\" + std::string(name);
    }
}

const std::string& Catalogue::localName(std::size_t index) const {
    return localNames_.at(index);
}

const std::string& Catalogue::remotePath(std::size_t index) const {
    return remotePaths_.at(index);
}

}  // namespace zavoket
