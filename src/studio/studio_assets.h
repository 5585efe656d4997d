// The editor page's template, stylesheet and script, compiled in from
// src/studio/page/.
#pragma once

#include <string>

namespace quorin::studio::asset {
std::string StudioHtml();
std::string StudioCss();
std::string StudioJs();
} // namespace quorin::studio::asset
