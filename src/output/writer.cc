#include "output/writer.h"

#include <sys/stat.h>

#include <cstdio>

#include "driver/diagnostics.h"
#include "driver/settings.h"
#include "optimizer/units.h"
#include "source/statement.h"

namespace {

// Collects the output. A text without a final line feed (the last line of a
// file that lacked one) gets a line feed only when something is written
// after it.
struct OutputText {
  std::string bytes;
  bool open_line = false;

  void put(std::string_view text) {
    if (text.empty()) return;
    if (open_line) bytes.push_back('\n');
    bytes.append(text.data(), text.size());
    open_line = text.back() != '\n';
  }
};

void render_into(const Statement* s, OutputText& out) {
  const bool fcout = (option_flags & OF_FCOUT) != 0;
  const bool finfo = (option_flags & OF_FINFO) != 0;
  for (; s; s = s->next) {
    if (s->replacement) {
      if (fcout) {
        out.put(";;");
        out.open_line = false;
        out.put(s->text);
      }
      if (s->flags & SF_REWRITTEN) out.put(*s->replacement);
    } else if ((s->flags & SF_SHARED_CALL) && finfo) {
      out.put("\t.stk\t3\n");
      out.put(s->text);
      out.put("\t.stk\t-3\n");
    } else {
      out.put(s->text);
    }
  }
}

bool is_regular_file(const std::string& name) {
  struct stat info;
  return ::stat(name.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

std::string render_statements(const Statement* first) {
  OutputText out;
  render_into(first, out);
  return std::move(out.bytes);
}

void write_output(std::string_view file_name, const SourceUnit* unit) {
  OutputText out;
  if (unit) render_into(unit->first_statement, out);
  std::string name(file_name);
  std::FILE* f = std::fopen(name.c_str(), "wb");
  if (!f) report_error(ERR_CANT_OPEN, file_name);
  bool ok = std::fwrite(out.bytes.data(), 1, out.bytes.size(), f) == out.bytes.size();
  ok = (std::fflush(f) == 0) && ok;
  ok = (std::fclose(f) == 0) && ok;
  if (!ok) {
    // Never leave a truncated file behind as if it were the result; devices,
    // pipes and other files that are not regular files are left alone.
    if (is_regular_file(name)) std::remove(name.c_str());
    report_error(ERR_CANT_WRITE, file_name);
  }
}
