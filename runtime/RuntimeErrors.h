#pragma once

#include <new>
#include <stdexcept>
#include <string>

#include "Failure.h"

namespace korbenit {

// The runtime's error kinds that several subsystems raise, with their own texts; the
// failure kind says why in portable words.
class EStreamError : public EFailure {
 public:
  explicit EStreamError(const std::string& message, TFailureKind kind = TFailureKind::Other,
                        int systemError = 0)
      : EFailure(message, kind, systemError) {}
  EStreamError()
      : EFailure("Expandieren des Speicher-Stream wegen Speichermangel nicht möglich",
                 TFailureKind::Other) {}
};

class EFCreateError : public EStreamError {
 public:
  explicit EFCreateError(const std::string& path, TFailureKind kind = TFailureKind::CannotCreate,
                         int systemError = 0)
      : EStreamError("Datei " + path + " kann nicht erstellt werden", kind, systemError) {}
};

class EFOpenError : public EStreamError {
 public:
  explicit EFOpenError(const std::string& path)
      : EStreamError("Datei " + path + " kann nicht geöffnet werden") {}
};

class EWriteError : public EStreamError {
 public:
  explicit EWriteError(TFailureKind kind = TFailureKind::WriteFailed, int systemError = 0)
      : EStreamError("Stream-Write-Fehler", kind, systemError) {}
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
