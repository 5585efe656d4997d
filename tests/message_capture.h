// Captures every message the library reports while the object lives.
#pragma once

#include <string>
#include <vector>

#include "quorin/framework.h"

namespace quorin::test {

class TMessageCapture {
public:
  TMessageCapture()
      : FPrevious(
            SetMessageHandler([this](const std::string& Text) { Messages.push_back(Text); })) {}
  ~TMessageCapture() { SetMessageHandler(std::move(FPrevious)); }
  TMessageCapture(const TMessageCapture&) = delete;
  TMessageCapture& operator=(const TMessageCapture&) = delete;

  std::vector<std::string> Messages;

private:
  TMessageHandler FPrevious;
};

} // namespace quorin::test
