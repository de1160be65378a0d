// One listener for every change notification a test wants to check: it keeps
// each notification in order with what a listener could read at that moment,
// so a test sees not only that a routine reported, but what and when (the
// last notification must already see the new state).
#pragma once

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "raster_core.h"

struct TChangeRecorder {
  struct TEvent {
    std::string What;
    TRect Area{};
    std::string Seen;  // what Observe returned when the notification came
  };
  std::vector<TEvent> Events;
  // What a listener would look at when told (a position, an index, ...).
  std::function<std::string()> Observe;

  void Note(const std::string& What, const TRect& Area = TRect{}) {
    Events.push_back(TEvent{What, Area, Observe ? Observe() : std::string()});
  }
  // For TBitmap32::OnAreaChanged.
  std::function<void(TBitmap32*, const TRect&, uint32_t)> AreaListener() {
    return [this](TBitmap32*, const TRect& R, uint32_t) { Note("area", R); };
  }
  // For the OnChange and OnChanging events of TNotifiablePersistent and friends.
  std::function<void(void*)> Listener(const std::string& What = "change") {
    return [this, What](void*) { Note(What); };
  }
  void Clear() { Events.clear(); }
  // The smallest rectangle holding every reported area; empty without reports.
  TRect Union() const {
    TRect U{0, 0, 0, 0};
    bool Any = false;
    for (const TEvent& E : Events) {
      if (E.What != "area") continue;
      if (!Any) {
        U = E.Area;
        Any = true;
        continue;
      }
      U.Left = std::min(U.Left, E.Area.Left);
      U.Top = std::min(U.Top, E.Area.Top);
      U.Right = std::max(U.Right, E.Area.Right);
      U.Bottom = std::max(U.Bottom, E.Area.Bottom);
    }
    return U;
  }
  // The names of the notifications in order.
  std::vector<std::string> Names() const {
    std::vector<std::string> N;
    for (const TEvent& E : Events) N.push_back(E.What);
    return N;
  }
  std::string LastSeen() const { return Events.empty() ? std::string("(no notification)") : Events.back().Seen; }
};
