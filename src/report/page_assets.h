// The report page's template, stylesheet and script, and the vendored uPlot,
// compiled into the library from src/report/page/ and third_party/uplot/.
#pragma once

#include <string>

namespace quorin::page {
std::string Html();
std::string Css();
std::string Js();
std::string UplotJs();
std::string UplotCss();
std::string ScenariosHtml();
std::string ScenariosJs();
} // namespace quorin::page
