#include "reader/recent_codes.h"

#include <utility>

#include "platform/conversions.h"

LineCounts& LineCounts::operator+=(const LineCounts& other) {
  codes += other.codes, typed += other.typed, dropped += other.dropped, empty += other.empty;
  rejected += other.rejected, framing += other.framing, parity += other.parity, overrun += other.overrun;
  breaks += other.breaks;
  return *this;
}

LineCounts& RecentCodes::CountsOf(std::wstring_view port) {
  for (auto& [name, counts] : counts_) {
    if (SamePort(name, port)) return counts;
  }
  return counts_.emplace_back(std::wstring(port), LineCounts{}).second;
}

void RecentCodes::Add(CodeRecord& record) {
  {
    const std::lock_guard lock(mutex_);
    LineCounts& counts = CountsOf(record.port);
    ++counts.codes;
    unsigned* const outcomes[] = {&counts.typed, &counts.dropped, &counts.empty, &counts.rejected, &counts.cut};
    ++*outcomes[static_cast<int>(record.outcome)];
    std::swap(ring_[next_], record);
    next_ = (next_ + 1) % kKept;
    if (size_ < kKept) ++size_;
  }
  Changed();
}

void RecentCodes::Record(const PreparedCode& code) {
  using Outcome = PreparedCode::Outcome;
  CodeRecord record;
  if (now_) record.time = now_();
  record.port = code.port;
  record.bytes = code.bytes;
  record.text = code.decoded.text;
  // As the Encoding option names it.
  record.encoding =
      code.decoded.codePage == TypingOptions::kUtf8 ? L"UTF-8" : platform::IntToStr(code.decoded.codePage);
  record.symbology = code.aimId;
  record.rule = code.rule ? platform::IntToStr(*code.rule) : L"";
  record.program = code.program;
  record.why = code.why;
  switch (code.outcome) {
    case Outcome::Typed:
      record.outcome = CodeRecord::Outcome::Typed;
      break;
    case Outcome::Empty:
      record.outcome = CodeRecord::Outcome::Empty;
      break;
    case Outcome::Refused:
      record.outcome = CodeRecord::Outcome::Rejected;
      break;
    case Outcome::Held:
      record.outcome = CodeRecord::Outcome::Dropped;
      record.why = L"отмечено «Не вводить коды»";
      break;
    case Outcome::ToType:
    case Outcome::NotTyped:
      record.outcome = CodeRecord::Outcome::Dropped;
      break;
    case Outcome::Cut:
      record.outcome = CodeRecord::Outcome::Cut;
      break;
  }
  Add(record);
}

void RecentCodes::CountLineErrors(std::wstring_view port, std::uint32_t flags) {
  using namespace comm_error;
  if ((flags & (kFraming | kParity | kOverrun | kInputQueueOverflow | kBreak)) == 0) return;
  {
    const std::lock_guard lock(mutex_);
    LineCounts& counts = CountsOf(port);
    counts.framing += (flags & kFraming) != 0;
    counts.parity += (flags & kParity) != 0;
    counts.overrun += (flags & (kOverrun | kInputQueueOverflow)) != 0;
    counts.breaks += (flags & kBreak) != 0;
  }
  Changed();
}

std::vector<CodeRecord> RecentCodes::Newest() const {
  const std::lock_guard lock(mutex_);
  told_ = false;
  std::vector<CodeRecord> newest;
  newest.reserve(size_);
  for (std::size_t i = 1; i <= size_; ++i) newest.push_back(ring_[(next_ + kKept - i) % kKept]);
  return newest;
}

LineCounts RecentCodes::Counts() const {
  const std::lock_guard lock(mutex_);
  LineCounts total;
  for (const auto& [port, counts] : counts_) total += counts;
  return total;
}

LineCounts RecentCodes::Counts(std::wstring_view port) const {
  const std::lock_guard lock(mutex_);
  for (const auto& [name, counts] : counts_) {
    if (SamePort(name, port)) return counts;
  }
  return {};
}

void RecentCodes::Watch(std::function<void()> changed) {
  const std::lock_guard lock(mutex_);
  changed_ = std::move(changed);
  told_ = false;
}

void RecentCodes::Changed() {
  const std::lock_guard lock(mutex_);
  if (!changed_ || std::exchange(told_, true)) return;
  changed_();
}

std::wstring NamedControls(std::wstring_view text) {
  static constexpr std::array<std::wstring_view, 32> kNames{
      L"NUL", L"SOH", L"STX", L"ETX", L"EOT", L"ENQ", L"ACK", L"BEL", L"BS",  L"TAB", L"LF",
      L"VT",  L"FF",  L"CR",  L"SO",  L"SI",  L"DLE", L"DC1", L"DC2", L"DC3", L"DC4", L"NAK",
      L"SYN", L"ETB", L"CAN", L"EM",  L"SUB", L"ESC", L"FS",  L"GS",  L"RS",  L"US"};
  std::wstring shown;
  shown.reserve(text.size());
  for (const wchar_t c : text) {
    if (static_cast<std::size_t>(c) < kNames.size()) {
      shown.append(L"<").append(kNames[c]).append(L">");
    } else if (c == 0x7F) {
      shown += L"<DEL>";
    } else {
      shown += c;
    }
  }
  return shown;
}

std::wstring ShortLineName(const LineParameters& line) {
  constexpr wchar_t kParityLetters[] = L"NOEMS";
  std::wstring name = platform::IntToStr(line.baudRate) + L" " + platform::IntToStr(line.byteSize);
  name += line.parity < 5 ? kParityLetters[line.parity] : L'?';
  name += line.stopBits < kStopBitsTexts.size() ? std::wstring(kStopBitsTexts[line.stopBits]) : L"?";
  return name;
}

std::wstring Advice(const LineState& state) {
  const LineCounts& counts = state.counts;
  if (!state.portOpen) {
    return L"Порт недоступен: проверьте, что сканер или переходник подключён, порт выбран верно и не занят другой "
           L"программой.";
  }
  if (counts.framing + counts.parity > 0) {
    return L"Настройки линии (" + ShortLineName(state.line) +
           L") отличаются от настроек сканера: коды приходят искажёнными. Установите те же скорость, биты, чётность "
           L"и стоповые биты, что у сканера; обычно это 9600 8N1.";
  }
  if (counts.overrun > 0) {
    return L"Часть байтов потеряна (переполнение): уменьшите скорость сканера и порта или обновите драйвер "
           L"переходника.";
  }
  if (counts.breaks > 0) {
    return L"На линии был разрыв: проверьте кабель и питание сканера.";
  }
  if (state.typingHeld) return L"Коды не вводятся: отмечено «Не вводить коды».";
  if (counts.codes == 0) {
    return L"Кодов ещё не было: отсканируйте код. Если строка не появится, проверьте, что сканер настроен на "
           L"последовательный порт (RS-232) и заканчивает код символом CR.";
  }
  if (counts.empty == counts.codes) return L"Сканер присылает пустые строки: проверьте его настройку префиксов.";
  return L"Линия в порядке.";
}

std::wstring OutcomeName(const CodeRecord& record) {
  constexpr std::array<std::wstring_view, 5> kNames{L"введён", L"не введён: ", L"пустой", L"отклонён: ", L"прерван: "};
  const std::wstring_view name = kNames[static_cast<int>(record.outcome)];
  return std::wstring(name) + (name.back() == L' ' ? record.why : L"");
}
