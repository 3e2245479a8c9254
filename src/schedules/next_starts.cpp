#include "schedules/next_starts.h"

#include <algorithm>
#include <tuple>
#include <type_traits>

#include "calendar/zone_offset.h"
#include "engine/due_rules.h"
#include "platform/civil_date.h"
#include "platform/clock.h"

namespace corvana::schedules {
namespace {

using platform::DaysFromCivil;
using platform::DaysInMonth;
using platform::LocalTime;
using platform::WeekdayOfDays;

// A local time exists zero, one or two times; the other instance lies one
// daylight-saving shift away.
constexpr int64_t kShiftsS[] = {-3600, -1800, 0, 1800, 3600};
// How far an interval proposal may be off before the search gives up.
constexpr int64_t kIntervalSlackS = 3 * 3600;
// How far back what ran can still hold a start back: the hour that repeats
// lies at most this far back.
constexpr int64_t kLookBackS = 2 * 3600;

struct Date {
  int year;
  int month;  // 1-12
  int day;
  int weekday;  // 0 = Sunday
  int64_t days;  // since 1970-01-01, counted along rather than worked out

  // The search steps a day at a time: the month's length is looked up only
  // where the month can end, as working out leap years at every step cost
  // more than the step.
  void Next() {
    weekday = weekday == 6 ? 0 : weekday + 1;
    ++days;
    if (++day <= 28 || day <= DaysInMonth(year, month)) return;
    day = 1;
    if (++month <= 12) return;
    month = 1;
    ++year;
  }

  // `count` days on, into the next month at most: the day count and weekday
  // follow along, where working them out from the calendar afresh cost more
  // than the rest of finding the day.
  void Forward(int count) {
    weekday = (weekday + count) % 7;
    days += count;
    day += count;
    if (day <= 28) return;
    const int length = DaysInMonth(year, month);
    if (day <= length) return;
    day -= length;
    if (++month <= 12) return;
    month = 1;
    ++year;
  }
};

Date DateOf(const LocalTime& local) {
  const int64_t days = DaysFromCivil(local.year, local.month_index + 1, local.day);
  return {local.year, local.month_index + 1, local.day, WeekdayOfDays(days), days};
}

bool InRange(int32_t value, int32_t low, int32_t high) {
  return value >= low && value <= high;
}

// A stretch of a day in which a rule matches: every tick in it would start
// the definition were its latch clear.
struct Window {
  int first_s;  // seconds of the day
  int last_s;
  int named_second;  // of the minute, as the rule says it
};

// The window that ends at `sec`, when one exists.
std::optional<Window> WindowAt(int32_t hour, int32_t min, int32_t sec) {
  if (!InRange(hour, 0, 23) || !InRange(min, 0, 59) || !InRange(sec, 0, 60)) {
    return std::nullopt;
  }
  const int minute_s = (hour * 60 + min) * 60;
  return Window{minute_s + std::max(sec - 1, 0), minute_s + std::min(sec, 59),
                std::min(sec, 59)};
}

// The windows a calendar rule can match in on a day it names: the same on
// every such day, so made once per rule rather than once per day.
void WindowsOfRule(const Timetable& record, bool once, std::vector<Window>* windows) {
  windows->clear();
  if (!once && KindOf(record.type_schedule) == ScheduleKind::kHourly) {
    if (!InRange(record.min, 0, 59)) return;
    for (int hour = 0; hour < 24; ++hour) {
      const int minute_s = (hour * 60 + record.min) * 60;
      windows->push_back({minute_s, minute_s + 59, 0});
    }
    return;
  }
  const std::optional<Window> window = WindowAt(record.hour, record.min, record.sec);
  if (window) windows->push_back(*window);
}

// Whether the rule names the date, so that its windows lie on it.
bool OnDate(const Timetable& record, const Date& date, bool once) {
  if (once) {
    return record.year == date.year && record.month == date.month &&
           record.day == date.day;
  }
  switch (KindOf(record.type_schedule)) {
    case ScheduleKind::kHourly: return true;
    case ScheduleKind::kWeekdays: return (record.days_week >> ((date.weekday + 6) % 7) & 1) != 0;
    case ScheduleKind::kWeekday: return record.nday_week == date.weekday;
    case ScheduleKind::kMonthly: return record.day == date.day;
    case ScheduleKind::kYearly: return record.month + 1 == date.month && record.day == date.day;
    default: return false;
  }
}

struct Instance {
  int64_t seconds;
  LocalTime local;
  int length_s = 0;  // the window's last second less its first
  int named_second = -1;
};

bool SameLocal(const LocalTime& local, const Date& date, int second_of_day) {
  return local.year == date.year && local.month_index + 1 == date.month &&
         local.day == date.day &&
         (local.hour * 60 + local.minute) * 60 + local.second == second_of_day;
}

LocalTime LocalOf(const Date& date, int second_of_day) {
  return {date.year,          date.month - 1,          date.day,
          second_of_day / 3600, second_of_day / 60 % 60, second_of_day % 60,
          date.weekday};
}

// Every second whose local time is the date and time of day: none in the
// hour skipped in spring, two in the hour repeated in autumn. On a day
// whose offset stays, the one instance follows from the offset alone
// (`day_start_s`: the date's midnight as UTC seconds).
void InstancesOf(const Date& date, int64_t day_start_s, int second_of_day,
                 const ZoneDays::Day& day, std::vector<Instance>* out) {
  if (!day.changes) {
    out->push_back(
        {day_start_s + second_of_day - day.offset_s, LocalOf(date, second_of_day)});
    return;
  }
  int64_t guess = 0;
  if (!platform::FromLocalTime(date.year, date.month - 1, date.day,
                               second_of_day / 3600, second_of_day / 60 % 60,
                               second_of_day % 60, &guess)) {
    return;
  }
  for (int64_t shift_s : kShiftsS) {
    Instance instance{guess + shift_s, {}};
    if (platform::ToLocalTime(instance.seconds, &instance.local) &&
        SameLocal(instance.local, date, second_of_day)) {
      out->push_back(instance);
    }
  }
}

// A copy of the record as the due rules read it: its texts, which they never
// read, are left behind, as copying them was an allocation for every
// definition asked.
template <class Record>
Record WithoutTexts(const Record& record) {
  // A field added to a definition changes its size: copy it here too when
  // the due rules read it.
  constexpr size_t kIntFields = std::is_same_v<Record, WebServerDefinition> ? 4 : 2;
  struct Counted : Timetable, RunState {
    std::string texts[2];
    int32_t ints[kIntFields];
  };
  static_assert(sizeof(Record) == sizeof(Counted));
  Record copy;
  static_cast<Timetable&>(copy) = record;
  static_cast<RunState&>(copy) = record;
  copy.enabled = record.enabled;
  copy.run_missed = record.run_missed;
  if constexpr (std::is_same_v<Record, WebServerDefinition>) {
    copy.type_interval = record.type_interval;
    copy.interval = record.interval;
  }
  return copy;
}

// A rule as the engine's tick asks it: the record and one second.
template <class Record>
class Rule;

template <>
class Rule<ScheduleDefinition> {
 public:
  explicit Rule(const ScheduleDefinition& record) : record_(WithoutTexts(record)) {}
  bool DueAt(int64_t, const LocalTime& local) { return IsScheduleDue(record_, local); }
  const ScheduleDefinition& record() const { return record_; }
  RunState& run_state() { return record_; }
  bool once() const { return KindOf(record_.type_schedule) == ScheduleKind::kOnce; }

 private:
  ScheduleDefinition record_;
};

template <>
class Rule<WebServerDefinition> {
 public:
  explicit Rule(const WebServerDefinition& record) : record_(WithoutTexts(record)) {}
  bool DueAt(int64_t now_s, ZoneDays* zone_days) {
    LocalTime local;
    return zone_days->LocalAt(now_s, &local) && DueAt(now_s, local);
  }
  // As the engine's tick does: an update that falls due is recorded.
  bool DueAt(int64_t now_s, const LocalTime& local) {
    const ClockReading reading{now_s, local};
    if (!IsWebServerDue(record_, reading)) return false;
    RecordUpdate(reading, record_);
    return true;
  }
  const WebServerDefinition& record() const { return record_; }
  RunState& run_state() { return record_; }
  bool once() const { return false; }

 private:
  WebServerDefinition record_;
};

Date MakeDate(int year, int month, int day) {
  const int64_t days = DaysFromCivil(year, month, day);
  return {year, month, day, WeekdayOfDays(days), days};
}

// The first date from `date` whose day of the month is `day`, a year ahead
// at most. Only a date in a later month is worked out from the calendar.
bool SeekMonthDay(int day, Date* date) {
  if (!InRange(day, 1, 31)) return false;
  if (date->day <= day && day <= DaysInMonth(date->year, date->month)) {
    date->Forward(day - date->day);
    return true;
  }
  int year = date->year;
  int month = date->month;
  for (int months = 1; months <= 12; ++months) {
    if (++month > 12) {
      month = 1;
      ++year;
    }
    if (day <= DaysInMonth(year, month)) {
      *date = MakeDate(year, month, day);
      return true;
    }
  }
  return false;
}

// The first date from `date` that is `day` of `month`, within kSearchYears.
bool SeekYearDay(int month, int day, Date* date) {
  if (!InRange(month, 1, 12) || !InRange(day, 1, 31)) return false;
  for (int years = 0; years <= kSearchYears; ++years) {
    const int year = date->year + years;
    if ((years > 0 || std::tie(date->month, date->day) <= std::tie(month, day)) &&
        day <= DaysInMonth(year, month)) {
      *date = MakeDate(year, month, day);
      return true;
    }
  }
  return false;
}

// Moves the date forward to the first one on which the rule can match;
// false when there is none.
bool SeekDate(const Timetable& record, bool once, Date* date) {
  if (once) {
    if (!InRange(record.month, 1, 12) || !InRange(record.day, 1, 31) ||
        record.day > DaysInMonth(record.year, record.month)) {
      return false;
    }
    const Date target = MakeDate(record.year, record.month, record.day);
    if (std::tie(date->year, date->month, date->day) >
        std::tie(target.year, target.month, target.day)) {
      return false;
    }
    *date = target;
    return true;
  }
  switch (KindOf(record.type_schedule)) {
    case ScheduleKind::kHourly: return true;
    // Straight to the day: most days of a weekly rule have no window, and
    // looking at each of them was an eighth of the search.
    case ScheduleKind::kWeekdays: {
      if ((record.days_week & 0x7F) == 0) return false;
      int ahead = 0;
      while ((record.days_week >> ((date->weekday + ahead + 6) % 7) & 1) == 0) ++ahead;
      date->Forward(ahead);
      return true;
    }
    case ScheduleKind::kWeekday:
      if (!InRange(record.nday_week, 0, 6)) return false;
      date->Forward((record.nday_week - date->weekday + 7) % 7);
      return true;
    case ScheduleKind::kMonthly: return SeekMonthDay(record.day, date);
    case ScheduleKind::kYearly: return SeekYearDay(record.month + 1, record.day, date);
    default: return false;
  }
}

// Whether the second before a window's first is known, without asking the
// zone, to lie outside every window of the rule: within the window's minute
// (a window ends at the second the rule names, and that minute holds no
// other), or the minute before on a day whose offset stays. Its tick then
// only clears the latch.
bool BeforeIsOutside(const Instance& instance, const ZoneDays::Day& day) {
  const LocalTime& at = instance.local;
  return at.second != 0 || (!day.changes && (at.hour != 0 || at.minute != 0));
}

// Whether a start the replay finds is one to show.
bool Shown(const Replay& replay, int64_t seconds) {
  return seconds >= replay.from_s &&
         (!replay.last_start_s || seconds > *replay.last_start_s);
}

// The instances of the day's windows, in time order. On the first day the
// caller drops those before the replay by their seconds, not by the time of
// day: in autumn an earlier time of day comes once more an hour later.
void CandidatesOn(const Date& date, const std::vector<Window>& windows,
                  const ZoneDays::Day& day, std::vector<Instance>* candidates) {
  candidates->clear();
  const int64_t day_start_s = date.days * kDayS;
  for (const Window& window : windows) {
    const size_t before = candidates->size();
    InstancesOf(date, day_start_s, window.first_s, day, candidates);
    for (size_t i = before; i < candidates->size(); ++i) {
      (*candidates)[i].length_s = window.last_s - window.first_s;
      (*candidates)[i].named_second = window.named_second;
    }
  }
  // Windows come in the order of the day, and on a day whose offset stays
  // each has its one instance: they are in time order already (an hourly
  // rule's 24 made the sort a fifth of the search).
  if (!day.changes) return;
  std::sort(candidates->begin(), candidates->end(),
            [](const Instance& a, const Instance& b) { return a.seconds < b.seconds; });
}

// On a day whose offset stays each window has its one instance, in the
// order of the day: each is made as the search comes to it, where most of
// an hourly rule's 24 were made for nothing, and one that ends before
// `begin_s`, which `decide` passes over, is not made at all. True once
// `decide` is done.
template <class Decide>
bool DecideSteadyDay(const Date& date, const std::vector<Window>& windows,
                     const ZoneDays::Day& day, int64_t begin_s, Decide& decide) {
  const int64_t day_start_s = date.days * kDayS;
  for (const Window& window : windows) {
    const int64_t seconds = day_start_s + window.first_s - day.offset_s;
    const int length_s = window.last_s - window.first_s;
    if (seconds + length_s < begin_s) continue;
    const Instance candidate{seconds, LocalOf(date, window.first_s), length_s,
                             window.named_second};
    if (decide(candidate, day)) return true;
  }
  return false;
}

// Candidates day by day from the replay's first second, each one decided by
// the rule: the tick in the second before it sees no match, the tick in it
// starts the definition or not. The first second is a load, whose tick
// starts what a window covers, unless the load lies so far back that what
// ran before can no longer hold a start back (the hour that repeats lies at
// most kLookBackS back): the engine is then followed from there as if it had
// run all along, where a window begun before has had its tick.
template <class Record>
std::vector<Start> CalendarStarts(const Record& record, const Replay& replay,
                                  ZoneDays* zone_days) {
  std::vector<Start> starts;
  if (replay.count <= 0) return starts;
  ZoneDays own_zone_days;
  if (zone_days == nullptr) zone_days = &own_zone_days;
  Rule<Record> rule(record);
  const bool as_load = replay.load_s >= replay.from_s - kLookBackS;
  const int64_t begin_s = as_load ? replay.load_s : replay.from_s - kLookBackS;
  LocalTime floor;
  if (!platform::ToLocalTime(begin_s, &floor)) return starts;
  if (as_load && replay.reloaded && replay.last_start) {
    CarryLatch(*replay.last_start, floor, rule.run_state());
  }
  const Date first_date = DateOf(floor);
  const int last_year = first_date.year + kSearchYears;
  // A report asks once per definition: the day's lists are kept from call
  // to call rather than grown afresh each time.
  thread_local std::vector<Window> windows;
  thread_local std::vector<Instance> candidates;
  starts.reserve(static_cast<size_t>(std::min(replay.count, 64)));
  // True once the search is done: enough starts, or one past `until_s`.
  auto decide = [&](Instance candidate, const ZoneDays::Day& day) {
    if (candidate.seconds + candidate.length_s < begin_s) return false;
    LocalTime before;
    if (candidate.seconds < begin_s) {
      if (!as_load) return false;
      candidate.seconds = begin_s;
      candidate.local = floor;
    } else if (BeforeIsOutside(candidate, day)) {
      rule.run_state().fired = false;
    } else if (!platform::ToLocalTime(candidate.seconds - 1, &before)) {
      return false;
    } else {
      rule.DueAt(candidate.seconds - 1, before);
    }
    if (candidate.seconds > replay.until_s) return true;
    if (!rule.DueAt(candidate.seconds, candidate.local) || !Shown(replay, candidate.seconds)) {
      return false;
    }
    starts.push_back({candidate.seconds, candidate.local, candidate.named_second});
    return static_cast<int>(starts.size()) == replay.count;
  };
  WindowsOfRule(rule.record(), rule.once(), &windows);
  if (windows.empty()) return starts;
  for (Date date = first_date; SeekDate(rule.record(), rule.once(), &date) &&
                               date.year <= last_year;
       date.Next()) {
    if (!OnDate(rule.record(), date, rule.once())) continue;
    const ZoneDays::Day day = zone_days->At(date.days);
    if (!day.changes) {
      if (DecideSteadyDay(date, windows, day, begin_s, decide)) return starts;
      continue;
    }
    CandidatesOn(date, windows, day, &candidates);
    for (const Instance& candidate : candidates) {
      if (decide(candidate, day)) return starts;
    }
  }
  return starts;
}

// The first second from `low` at which the rule would start the web server,
// asked of `trial`, a copy of the rule whose run state is put back before
// every question. The interval elapses at `proposal`, unless the clocks
// change on the way: the elapsed time is measured between local times, so
// the answer may also turn near a change or a shift away from the proposal.
std::optional<int64_t> FirstDue(const Rule<WebServerDefinition>& rule,
                                Rule<WebServerDefinition>* trial, int64_t low,
                                int64_t proposal, ZoneDays* zone_days) {
  auto due = [&](int64_t now_s) {
    trial->run_state() = rule.record();
    return trial->DueAt(now_s, zone_days);
  };
  const int64_t high = proposal + kIntervalSlackS;
  // Kept from call to call: a report asks five times for each web server.
  thread_local std::vector<int64_t> candidates;
  candidates.assign(1, low);
  auto add_shifts = [&](int64_t base) {
    for (int64_t shift_s : kShiftsS) {
      if (base + shift_s > low && base + shift_s <= high) {
        candidates.push_back(base + shift_s);
      }
    }
  };
  for (int64_t change : zone_days->Changes(low, high)) add_shifts(change);
  add_shifts(proposal);
  std::sort(candidates.begin(), candidates.end());
  for (int64_t candidate : candidates) {
    if (due(candidate) && (candidate == low || !due(candidate - 1))) {
      return candidate;
    }
  }
  return std::nullopt;
}

// A start at a second found by the interval search: converted once here.
Start StartAt(int64_t seconds, ZoneDays* zone_days) {
  Start start{seconds, {}};
  zone_days->LocalAt(seconds, &start.local);
  return start;
}

// Due at the load, or from the last update the log shows since then, and
// every interval after it.
std::vector<Start> IntervalStarts(const WebServerDefinition& web_server,
                                  const Replay& replay, ZoneDays* zone_days) {
  std::vector<Start> starts;
  const int64_t step_s = int64_t{IntervalUnits(web_server)} *
                         UnitSeconds(web_server.type_interval);
  int64_t last_s = replay.load_s;
  // Without a load in the log (a log begun afresh), the last update shown
  // is the best there is.
  if (replay.last_start_s && *replay.last_start_s <= replay.from_s &&
      (*replay.last_start_s >= replay.load_s || !replay.load_known)) {
    last_s = *replay.last_start_s;
  }
  Rule<WebServerDefinition> rule(web_server);
  // One copy for every question.
  Rule<WebServerDefinition> trial(web_server);
  if (replay.count <= 0 || !rule.DueAt(last_s, zone_days)) return starts;
  if (Shown(replay, last_s) && last_s <= replay.until_s) {
    starts.push_back(StartAt(last_s, zone_days));
  }
  while (static_cast<int>(starts.size()) < replay.count && step_s > 0) {
    rule.DueAt(last_s + 1, zone_days);  // the next tick: not elapsed, the latch opens
    const int64_t low = std::max(last_s + 1, replay.from_s);
    const std::optional<int64_t> next =
        FirstDue(rule, &trial, low, std::max(last_s + step_s, low), zone_days);
    if (!next || *next > replay.until_s || !rule.DueAt(*next, zone_days)) break;
    if (Shown(replay, *next)) starts.push_back(StartAt(*next, zone_days));
    last_s = *next;
  }
  return starts;
}

}  // namespace

std::vector<Start> NextScheduleStarts(const ScheduleDefinition& schedule,
                                      const Replay& replay,
                                      ZoneDays* zone_days) {
  return CalendarStarts(schedule, replay, zone_days);
}

std::vector<Start> NextWebServerStarts(const WebServerDefinition& web_server,
                                       const Replay& replay,
                                       ZoneDays* zone_days) {
  ZoneDays own_zone_days;
  if (zone_days == nullptr) zone_days = &own_zone_days;
  if (KindOf(web_server.type_schedule) == ScheduleKind::kOnce) {
    return IntervalStarts(web_server, replay, zone_days);
  }
  return CalendarStarts(web_server, replay, zone_days);
}

}  // namespace corvana::schedules
