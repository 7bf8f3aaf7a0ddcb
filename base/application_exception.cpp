#include "base/application_exception.h"

#include <cstdio>
#include <mutex>

namespace {
std::mutex handlerMutex;
TApplicationExceptionHandler installedHandler;
}  // namespace

void SetApplicationExceptionHandler(TApplicationExceptionHandler handler) {
  std::lock_guard lock(handlerMutex);
  installedHandler = std::move(handler);
}

void HandleApplicationException(const std::exception& error) { HandleApplicationException(std::string(error.what())); }

void HandleApplicationException(const std::string& message) {
  TApplicationExceptionHandler handler;
  {
    std::lock_guard lock(handlerMutex);
    handler = installedHandler;
  }
  if (handler) {
    handler(message);
  } else {
    std::fprintf(stderr, "%s\n", message.c_str());
  }
}
