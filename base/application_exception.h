#pragma once
// The application's default display for failures that escape every handler (socket notifications,
// timer ticks, widget events). The user interface installs the real display; until then the
// message goes to standard error so nothing is lost.

#include <exception>
#include <functional>
#include <string>

using TApplicationExceptionHandler = std::function<void(const std::string& message)>;

void SetApplicationExceptionHandler(TApplicationExceptionHandler handler);
void HandleApplicationException(const std::exception& error);
void HandleApplicationException(const std::string& message);

// Runs fn and routes any exception to the default display, so none crosses the event loop.
template <typename Fn>
void RunGuarded(Fn&& fn) {
  try {
    fn();
  } catch (const std::exception& error) {
    HandleApplicationException(error);
  } catch (...) {
    HandleApplicationException(std::string("Unbekannter Fehler"));
  }
}
