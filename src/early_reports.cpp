// The map and debug file made beside pass 1; see early_reports.h.
#include "early_reports.h"

#include <array>
#include <cerrno>
#include <system_error>

#ifdef __linux__
#include <unistd.h>
#endif

#include "context.h"
#include "debug_info.h"
#include "helper_priority.h"
#include "output_file.h"
#include "spill_file.h"

namespace zeld {

namespace {

// Copies the whole of `from` to `to`; false when `from` cannot be read back
// (what `to` fails to take is its own stream's error, found when it is
// finished).
bool copy_text(std::FILE* from, std::FILE* to) {
  long done = 0;
#ifdef __linux__
  // The kernel copies from file to file where it can. Whatever stops it
  // (files it cannot copy between, a full disk, a failed read) leaves the
  // rest to the streams, which fail and report as they always have.
  if (std::fflush(to) == 0) {
    loff_t at = 0;
    for (;;) {
      ssize_t n = copy_file_range(fileno(from), &at, fileno(to), nullptr, std::size_t{1} << 30, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
    }
    done = static_cast<long>(at);
  }
#endif
  if (std::fseek(from, done, SEEK_SET) != 0) return false;
  std::vector<char> buffer(std::size_t{1} << 16);
  std::size_t n;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), from)) != 0) put(to, std::string_view(buffer.data(), n));
  return !std::ferror(from);
}

}  // namespace

bool EarlyReports::wanted(const LinkContext& ctx) {
  return ctx.diag.error_count() == 0 && !(ctx.options.output_formats & FORMAT_COFF) &&
         (!ctx.options.debug_level || static_debug_names_fit(ctx.debug));
}

EarlyReports::EarlyReports(const LinkContext& ctx) : ctx_(ctx) {
  for (Kind kind : kinds()) reports_.push_back(Report{kind, State::kLeft, nullptr});
  try {
    thread_ = std::thread([this] { make_texts(); });
  } catch (const std::system_error&) {
    // No thread to be had: every report is written at its turn.
  }
}

EarlyReports::~EarlyReports() {
  if (thread_.joinable()) thread_.join();
}

std::vector<EarlyReports::Kind> EarlyReports::kinds() const {
  std::vector<Kind> list{Kind::kMap};
  if (ctx_.options.emit_extended_labels) list.push_back(Kind::kExtendedMap);
  if (ctx_.options.debug_level) list.push_back(Kind::kDebug);
  return list;
}

void EarlyReports::make_texts() {
  run_below_link_priority();
  // The debug file (the last file, when there is one) first: of what the
  // link's thread finds left at its turn, it then writes the smaller part.
  std::array<Report*, 3> order{};
  std::size_t count = 0;
  if (reports_.back().kind == Kind::kDebug) order[count++] = &reports_.back();
  for (Report& report : reports_)
    if (report.kind != Kind::kDebug) order[count++] = &report;
  for (std::size_t n = 0; n != count; ++n) {
    Report& report = *order[n];
    {
      std::lock_guard lock(mutex_);
      if (report.state != State::kLeft) continue;
      report.state = State::kMaking;
    }
    bool more = false;
    try {
      more = make_text(report);
    } catch (...) {
      // Out of memory: what is not kept is written at its turn.
    }
    {
      std::lock_guard lock(mutex_);
      report.state = State::kMade;
    }
    made_.notify_all();
    if (!more) return;
  }
}

bool EarlyReports::make_text(Report& report) {
  // Beside its file where it can be: a first link then names the text
  // at its turn instead of copying it.
  std::FILE* f = open_temporary_stream_beside(file_name(report.kind));
  const bool beside = f != nullptr;
  if (!f) f = open_temporary_stream();
  if (!f) return false;
  auto kept = std::make_unique<Kept>(ctx_.diag.stream());
  kept->text.reset(f);
  kept->beside = beside;
  kept->buffer = std::make_unique<char[]>(kOutputBufferSize);
  std::setvbuf(f, kept->buffer.get(), _IOFBF, kOutputBufferSize);
  try {
    write_text(report.kind, kept->held, f);
  } catch (const LinkAbort&) {
    // Held with its report: the link ends at this report's turn, and the
    // reports before it are still made.
  }
  if (std::fflush(f) != 0 || std::ferror(f)) return false;  // a full disk: written at its turn
  report.kept = std::move(kept);
  return true;
}

void EarlyReports::write_text(Kind kind, Diagnostics& diag, std::FILE* out) const {
  if (kind == Kind::kDebug)
    write_debug_text(ctx_, diag, out);
  else
    write_map(ctx_, diag, map_kind(kind), out);
}

const char* EarlyReports::extension(Kind kind) const {
  return kind == Kind::kDebug ? "dbg" : map_extension(map_kind(kind));
}

std::string EarlyReports::file_name(Kind kind) const {
  return OutputFile::name_for(ctx_.options.output_base_name, extension(kind));
}

OutputFile EarlyReports::create_file(Kind kind, Diagnostics& diag) const {
  return OutputFile::create(diag, ctx_.options.output_base_name, extension(kind), "w");
}

bool EarlyReports::name_kept_text(Kind kind, Kept& kept, Diagnostics& diag) const {
  const std::string name = file_name(kind);
  if (!kept.beside || !name_temporary_stream(kept.text.get(), name)) return false;
  diag.release_from(kept.held);  // ends the link when the report stopped
  // What the close finds wrong is the file's failure, as for a file
  // written at its turn.
  OutputFile named;
  named.reset(kept.text.release(), name);
  named.finish(diag);
  return true;
}

void EarlyReports::write_now(Kind kind, Diagnostics& diag) const {
  OutputFile out = create_file(kind, diag);
  write_text(kind, diag, out.get());
  out.finish(diag);
}

void EarlyReports::finish(Diagnostics& diag) {
  for (Report& report : reports_) {
    {
      std::unique_lock lock(mutex_);
      if (report.state == State::kLeft) report.state = State::kTakenAtTurn;
      made_.wait(lock, [&] { return report.state == State::kMade || report.state == State::kTakenAtTurn; });
    }
    if (!report.kept) {
      write_now(report.kind, diag);
      continue;
    }
    Kept& kept = *report.kept;
    if (name_kept_text(report.kind, kept, diag)) continue;
    OutputFile out = create_file(report.kind, diag);
    if (!copy_text(kept.text.get(), out.get())) {
      out.reset();
      write_now(report.kind, diag);  // made again, from the start
      continue;
    }
    diag.release_from(kept.held);  // ends the link when the report stopped
    out.finish(diag);
  }
  if (thread_.joinable()) thread_.join();
}

}  // namespace zeld
