#pragma once

#include <QByteArray>
#include <QStringList>
#include <QtGlobal>
#include <optional>
#include <utility>
#include <vector>

namespace korvani::support {

// Changes this process's environment for one scope and puts every variable back
// as it was, set or not, when the scope ends.
class ScopedEnvironment {
 public:
  ScopedEnvironment() = default;
  // "NAME=VALUE" sets, a bare "NAME" removes.
  explicit ScopedEnvironment(const QStringList& changes) {
    for (const QString& change : changes) {
      if (change.contains('=')) {
        Set(change.section('=', 0, 0).toUtf8(), change.section('=', 1).toUtf8());
      } else {
        Unset(change.toUtf8());
      }
    }
  }
  ~ScopedEnvironment() {
    // Newest first, so that a variable changed twice ends as it began.
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second) {
        qputenv(it->first.constData(), *it->second);
      } else {
        qunsetenv(it->first.constData());
      }
    }
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  void Set(const QByteArray& name, const QByteArray& value) {
    Save(name);
    qputenv(name.constData(), value);
  }
  void Unset(const QByteArray& name) {
    Save(name);
    qunsetenv(name.constData());
  }

 private:
  void Save(const QByteArray& name) {
    saved_.emplace_back(name, qEnvironmentVariableIsSet(name.constData())
                                  ? std::optional(qgetenv(name.constData()))
                                  : std::nullopt);
  }

  std::vector<std::pair<QByteArray, std::optional<QByteArray>>> saved_;
};

}  // namespace korvani::support
