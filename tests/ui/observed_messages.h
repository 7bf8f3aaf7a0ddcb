#pragma once
// Collects the program's message boxes for as long as it lives, instead of showing them.

#include <vector>

#include "ui/components/message_service.h"

class TObservedMessages : public std::vector<TShownMessage> {
 public:
  TObservedMessages() {
    TMessageService::SetObserver([this](const TShownMessage& message) { push_back(message); });
  }
  ~TObservedMessages() { TMessageService::SetObserver(nullptr); }
  TObservedMessages(const TObservedMessages&) = delete;
  TObservedMessages& operator=(const TObservedMessages&) = delete;
};
