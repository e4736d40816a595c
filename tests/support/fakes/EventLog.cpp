#include "support/fakes/EventLog.h"

#include <algorithm>

namespace korvani::fakes {

void EventLog::Add(const QString& event) {
  events_.append(event);
}

void EventLog::Add(const std::string& event) {
  events_.append(QString::fromStdString(event));
}

QStringList EventLog::StartingWith(const QString& prefix) const {
  QStringList matching;
  for (const QString& event : events_) {
    if (event.startsWith(prefix)) {
      matching.append(event);
    }
  }
  return matching;
}

QStringList EventLog::Without(const QStringList& prefixes) const {
  QStringList kept;
  for (const QString& event : events_) {
    const bool dropped = std::any_of(prefixes.begin(), prefixes.end(), [&](const QString& prefix) {
      return event.startsWith(prefix);
    });
    if (!dropped) {
      kept.append(event);
    }
  }
  return kept;
}

}  // namespace korvani::fakes
