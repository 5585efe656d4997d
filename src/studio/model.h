// What the editor page knows of the library and of a model, as JSON: the
// palette with the class descriptions and images, and a model text as the
// loader and the check see it. Edits of a model text go through here too,
// so that a value the loader refuses never reaches the text.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace quorin::studio {

// The palette pages with their classes (properties, events, images), the
// standard handlers.
nlohmann::json DescribeClasses();

// Text loaded as the file Name: its objects as written (with Left and Top),
// its run section, the loader's errors by line and component, the check's
// findings by component, and the routes the standard handlers name.
nlohmann::json DescribeModel(const std::string& Text, const std::string& Name);

// Applies Edit (op: set, add, remove, rename) to Text. Answers false with
// Error, and Text unchanged, when the edit cannot be made or the loader
// refuses what it writes (the loader's message, with its line).
bool ApplyEdit(std::string& Text, const std::string& Name, const nlohmann::json& Edit,
               std::string& Error);

} // namespace quorin::studio
