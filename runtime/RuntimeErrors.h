#pragma once

#include <new>
#include <stdexcept>
#include <string>

namespace korbenit {

// The runtime's error kinds that several subsystems raise, with their own texts.
class EStreamError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  EStreamError() : std::runtime_error("Expandieren des Speicher-Stream wegen Speichermangel nicht möglich") {}
};

class EFCreateError : public EStreamError {
 public:
  explicit EFCreateError(const std::string& path)
      : EStreamError("Datei " + path + " kann nicht erstellt werden") {}
};

class EFOpenError : public EStreamError {
 public:
  explicit EFOpenError(const std::string& path)
      : EStreamError("Datei " + path + " kann nicht geöffnet werden") {}
};

class EWriteError : public EStreamError {
 public:
  EWriteError() : EStreamError("Stream-Write-Fehler") {}
};

class EOutOfMemory : public std::runtime_error {
 public:
  EOutOfMemory() : std::runtime_error("Zu wenig Arbeitsspeicher") {}
};

// Runs action; an allocation that fails in it is raised with the runtime's own text.
template <typename TAction>
void WithRuntimeMemoryError(TAction&& action) {
  try {
    action();
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory();
  }
}

class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace korbenit
