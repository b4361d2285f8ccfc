#include "cli/report.h"

#include <ctime>
#include <sstream>

#include "model/formatting.h"
#include "model/kinds.h"

namespace brimvale::cli {
namespace {

std::string localTime(Time t) {
  std::time_t tt = Clock::to_time_t(t);
  std::tm tm{};
  localtime_r(&tt, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M", &tm);
  return buf;
}

std::string figures(double cost, int64_t tokens) {
  return fmtCost(cost) + "  " + fmtTokens(tokens) + " 토큰";
}

std::string pad(std::string text, size_t width) {
  // Width in code points, good enough for aligned columns of mixed texts.
  size_t count = 0;
  for (unsigned char c : text) count += (c & 0xC0) != 0x80;
  if (count < width) text.append(width - count, ' ');
  return text;
}

void renderWindow(std::ostringstream& out, const LimitWindow& w, Time now) {
  out << "    " << pad(w.label.empty() ? w.id : w.label, 16) << pad(fmtPercent(w.usedFraction), 6);
  if (w.resetsAt) out << "  재설정 " << localTime(*w.resetsAt) << " (" << fmtRemaining(*w.resetsAt, now) << ")";
  if (w.asOf) out << "  기준 " << fmtAgo(*w.asOf, now);
  out << "\n";
}

void renderSnapshot(std::ostringstream& out, const AIConnection& c, const UsageSnapshot& s,
                    Time now) {
  out << c.name << " (" << rawValue(c.source) << ")\n";
  out << "  " << pad(MetricKind::total().title(&s), 12) << figures(s.totalCost, s.totalTokens)
      << "  " << s.totalMessages << " 메시지\n";
  out << "  " << pad(MetricKind::today().title(&s), 12) << figures(s.todayCost, s.todayTokens)
      << "\n";
  out << "  " << pad(MetricKind::week().title(&s), 12) << figures(s.weekCost, s.weekTokens)
      << "\n";
  out << "  " << pad(MetricKind::session().title(&s), 12);
  if (s.sessionStart && s.sessionEnd) {
    out << figures(s.sessionCost, s.sessionTokens) << "  ~" << localTime(*s.sessionEnd) << " ("
        << fmtRemaining(*s.sessionEnd, now) << ")\n";
  } else {
    out << "\u2014\n";
  }
  if (!s.models.empty()) {
    out << "  모델\n";
    size_t shown = 0;
    for (const auto& m : s.models) {
      if (shown++ == 5) break;
      out << "    " << pad(m.name.empty() ? "(unknown)" : m.name, 24) << pad(fmtCost(m.cost), 9)
          << pad(fmtTokens(m.tokens), 9) << m.messages << "\n";
    }
  }
  if (s.limits && !s.limits->empty()) {
    out << "  한도\n";
    for (const auto& w : *s.limits) renderWindow(out, w, now);
  }
}

}  // namespace

std::string renderReport(const ReportInput& input) {
  std::ostringstream out;
  if (input.connections.empty()) {
    out << "연결된 AI가 없습니다. (no tool found; use --source KIND)\n";
    return out.str();
  }
  bool first = true;
  for (const auto& c : input.connections) {
    auto it = input.snapshots.find(c.id);
    if (it == input.snapshots.end()) continue;
    if (!first) out << "\n";
    first = false;
    renderSnapshot(out, c, it->second, input.now);
    if (c.source == SourceKind::grok && input.grokBilling) {
      out << "  Grok 크레딧 " << formatString("%.1f%%", input.grokBilling->usedPercent) << "\n";
      for (const auto& p : input.grokBilling->products)
        out << "    " << pad(p.name, 24)
            << (p.percent ? formatString("%.1f%%", *p.percent) : std::string("\u2014")) << "\n";
    }
    if (c.source == SourceKind::cursor && input.cursorBilling)
      out << "  Cursor 사용량 " << formatString("%.1f%%", input.cursorBilling->usedPercent)
          << "\n";
  }
  return out.str();
}

}  // namespace brimvale::cli
