#include "source/parser.h"

#include "driver/memory.h"
#include "source/tables.h"

namespace {

// The parser's view of one line: its tokens (the last one is TK_EOL) and the
// record being filled.
struct LineParser {
  const std::vector<Token>& toks;
  ParsedLine& line;
  std::string scratch;

  std::uint32_t kind_at(std::size_t i) const { return i < toks.size() ? toks[i].kind : TK_EOL; }
  void set_unparsable() { line.parse_flags |= PF_UNPARSABLE; }

  Operand& slot(std::size_t i) {
    if (line.operands.size() <= i) line.operands.resize(i + 1);
    return line.operands[i];
  }

  static bool stops_operand(std::uint32_t kind) {
    return kind == TK_COMMA || kind == TK_COMMENT || kind == TK_EOL;
  }
  static bool is_word(std::uint32_t kind) {
    return kind == TK_SYMBOL || kind == TK_NUMBER || kind == TK_MNEMONIC;
  }

  // The texts of tokens [from, to) joined without blanks, except that two
  // words (names, numbers, mnemonics) that blanks separated keep one blank
  // between them, so "#SIZEOF data_NE" stays two words.
  std::string_view join(std::size_t from, std::size_t to) {
    if (to == from + 1) return toks[from].text;
    // Tokens that stand next to each other in the line are the line's own
    // bytes: the text is a view of them, no copy.
    bool contiguous = true;
    for (std::size_t i = from + 1; i < to && contiguous; ++i)
      contiguous = toks[i].text.data() == toks[i - 1].text.data() + toks[i - 1].text.size();
    if (contiguous && to > from) {
      const char* begin = toks[from].text.data();
      const char* end = toks[to - 1].text.data() + toks[to - 1].text.size();
      return std::string_view(begin, static_cast<std::size_t>(end - begin));
    }
    scratch.clear();
    for (std::size_t i = from; i < to; ++i) {
      if (i > from && toks[i].space_before && is_word(toks[i].kind) && is_word(toks[i - 1].kind))
        scratch.push_back(' ');
      scratch.append(toks[i].text.data(), toks[i].text.size());
    }
    return copy_string(scratch);
  }

  std::size_t stop_of_operand(std::size_t t) const {
    while (!stops_operand(kind_at(t))) ++t;
    return t;
  }

  bool matches(std::size_t t, std::initializer_list<std::uint32_t> kinds) const {
    for (std::uint32_t k : kinds) {
      if (kind_at(t) != k) return false;
      ++t;
    }
    return true;
  }

  // Evaluates the expression from token t up to "[", "]", ",", a comment or
  // the end of the line into op.
  void parse_expression(std::size_t t, Operand& op) {
    op.value = 0;
    op.symbol.reset();
    op.offset = 0;
    op.width = 0;
    op.flags &= ~OPF_SYMBOLIC;
    std::uint32_t a = 0;
    std::uint32_t o = 0;
    std::uint32_t n = 0;
    for (;;) {
      std::uint32_t k = kind_at(t);
      if (k == TK_LBRACKET || k == TK_RBRACKET || k == TK_COMMA || k == TK_COMMENT || k == TK_EOL)
        break;
      if (k == TK_SYMBOL) {
        op.symbol = toks[t].text;
        op.flags |= OPF_SYMBOLIC;
      } else if (k == TK_NUMBER) {
        a = toks[t].value;
      } else if (k == TK_PLUS) {
        if (kind_at(t + 1) == TK_NUMBER) {
          ++t;
          a += toks[t].value;
          o += toks[t].value;
        }
      } else if (k == TK_MINUS) {
        if (kind_at(t + 1) == TK_NUMBER) {
          ++t;
          if (n > 0) o -= toks[t].value;
          a -= toks[t].value;
        }
      } else if (k == TK_COLON) {
        if (kind_at(t + 1) == TK_NUMBER) {
          ++t;
          op.width = static_cast<std::uint8_t>(width_code(toks[t].value));
        }
      } else {
        op.symbol = toks[t].text;
        op.flags |= OPF_SYMBOLIC;
      }
      ++t;
      ++n;
    }
    op.value = (op.flags & OPF_SYMBOLIC) ? 0 : static_cast<std::int32_t>(a);
    op.offset = static_cast<std::int32_t>(o);
  }

  void make_absolute(std::size_t t, Operand& op) {
    op.mode = MODE_ABS;
    parse_expression(t, op);
    op.flags |= OPF_PLAIN;
  }

  void make_displacement(std::size_t t, std::size_t n, Operand& op) {
    parse_expression(t, op);
    // The base register is the name after the "[", two tokens before the end.
    switch (base_register_code(toks[t + n - 2].text)) {
      case 1: op.mode = MODE_INDA0; break;
      case 2: op.mode = MODE_INDA1; break;
      case 4: op.mode = MODE_INDSB; break;
      case 5: op.mode = MODE_INDFB; break;
      case 6: op.mode = MODE_IN8DSP; break;
      default:
        op.mode = AM_NONE;
        set_unparsable();
        break;
    }
    op.flags &= ~OPF_PLAIN;
  }

  // Fills operand slot i from token t; returns the token after the operand,
  // or SIZE_MAX when there is no operand (a comma ended the list).
  std::size_t parse_operand(std::size_t t, std::size_t i) {
    Operand& op = slot(i);
    op = Operand();
    std::size_t n = 0;
    const std::uint32_t S = TK_SYMBOL, N = TK_NUMBER, P = TK_PLUS, M = TK_MINUS, C = TK_COLON,
                        L = TK_LBRACKET, R = TK_RBRACKET;
    // The patterns in their order of precedence; the kind of the first token
    // selects the ones that can match at all.
    switch (kind_at(t)) {
      case TK_LBRACKET:
        if (matches(t, {L, S, R})) {
          n = 3;
          switch (base_register_code(toks[t + 1].text)) {
            case 1: op.mode = MODE_IND_A0; break;
            case 2: op.mode = MODE_IND_A1; break;
            case 3: op.mode = MODE_IND_A1A0; break;
            default:
              op.mode = AM_NONE;
              set_unparsable();
              break;
          }
        } else {
          set_unparsable();
        }
        break;
      case TK_SYMBOL: {
        std::uint32_t k2 = kind_at(t + 1);
        if (k2 == P || k2 == M || k2 == C || k2 == L) {
          if (matches(t, {S, P, N, P, N, L, S, R}) || matches(t, {S, M, N, P, N, L, S, R}) ||
              matches(t, {S, P, N, C, N, L, S, R})) {
            n = 8;
            make_displacement(t, n, op);
            break;
          }
          if (matches(t, {S, P, N, L, S, R}) || matches(t, {S, M, N, L, S, R}) ||
              matches(t, {S, C, N, L, S, R})) {
            n = 6;
            make_displacement(t, n, op);
            break;
          }
          if (matches(t, {S, L, S, R})) {
            n = 4;
            make_displacement(t, n, op);
            break;
          }
          if (matches(t, {S, P, N, C, N}) || matches(t, {S, P, N, P, N})) {
            n = 5;
            make_absolute(t, op);
            break;
          }
          if (matches(t, {S, P, N}) || matches(t, {S, C, N})) {
            n = 3;
            make_absolute(t, op);
            break;
          }
        }
        n = 1;
        if (const RegisterRow* row = lookup_register(toks[t].text)) {
          op.mode = row->id;
          op.flags = row->plain ? std::uint32_t{OPF_PLAIN} : 0u;
        } else {
          op.mode = MODE_ABS;
          op.flags = OPF_PLAIN | OPF_SYMBOLIC;
        }
        break;
      }
      case TK_MINUS:
        if (matches(t, {M, N, P, N, L, S, R})) {
          n = 7;
          make_displacement(t, n, op);
        } else if (matches(t, {M, N, L, S, R})) {
          n = 5;
          make_displacement(t, n, op);
        } else if (matches(t, {M, N})) {
          n = 2;
          make_absolute(t, op);
        } else {
          set_unparsable();
        }
        break;
      case TK_NUMBER:
        if (matches(t, {N, P, N, L, S, R})) {
          n = 6;
          make_displacement(t, n, op);
        } else if (matches(t, {N, L, S, R})) {
          n = 4;
          make_displacement(t, n, op);
        } else {
          n = 1;
          make_absolute(t, op);
        }
        break;
      case TK_HASH: {
        op.mode = MODE_IMM;
        op.flags = OPF_PLAIN;
        std::uint32_t k = kind_at(t + 1);
        if (k == TK_MINUS || k == TK_NUMBER) {
          parse_expression(t + 1, op);
        } else {
          op.symbol = t + 1 < toks.size() ? toks[t + 1].text : std::string_view("\n");
          op.flags |= OPF_SYMBOLIC;
        }
        break;
      }
      case TK_EOL:
        return SIZE_MAX;
      default:
        op.mode = AM_NONE;
        set_unparsable();
        break;
    }
    std::size_t end = (op.mode == AM_NONE || op.mode == MODE_IMM) ? stop_of_operand(t) : t + n;
    op.text = join(t, end);
    return end;
  }

  void parse_operand_list(std::size_t t) {
    std::size_t i = 0;
    for (;;) {
      if (i >= MAX_OPERANDS) {
        set_unparsable();
        line.operand_count = static_cast<std::uint32_t>(i);
        return;
      }
      std::size_t r = parse_operand(t, i);
      if (r == SIZE_MAX) {
        set_unparsable();
        line.operand_count = static_cast<std::uint32_t>(i);
        return;
      }
      if (!stops_operand(kind_at(r))) {
        // The pattern did not cover the whole operand.
        std::size_t stop = stop_of_operand(t);
        Operand& op = slot(i);
        op = Operand();
        op.text = join(t, stop);
        r = stop;
        set_unparsable();
      }
      if (kind_at(r) == TK_EOL || kind_at(r) == TK_COMMENT) {
        line.operand_count = static_cast<std::uint32_t>(i + 1);
        return;
      }
      t = r + 1;
      ++i;
    }
  }

  void parse_instruction_line(std::size_t m) {
    line.kind = STMT_INSN;
    line.mnemonic = toks[m].text;
    line.code = toks[m].code;
    std::size_t t = m + 1;
    if (kind_at(t) == TK_SIZE) {
      line.size_code = toks[t].size;
      ++t;
    }
    if (kind_at(t) == TK_COLON && kind_at(t + 1) == TK_SYMBOL) {
      line.format_code = lookup_format(toks[t + 1].text);
      if (!line.format_code) set_unparsable();
      t += 2;
    }
    if (kind_at(t) == TK_COMMENT || kind_at(t) == TK_EOL) return;
    parse_operand_list(t);
  }

  void parse_directive_line(std::size_t d) {
    line.kind = STMT_DIRECTIVE;
    line.mnemonic = toks[d].text;
    line.code = toks[d].code;
    std::size_t t = d + 1;
    if (kind_at(t) == TK_COMMENT || kind_at(t) == TK_EOL) return;
    std::size_t count = 0;
    for (;;) {
      if (kind_at(t) == TK_LBRACE) ++t;
      if (kind_at(t) == TK_EOL || count >= MAX_OPERANDS) {
        // A "{" right before the end of the line, or too many arguments.
        set_unparsable();
        break;
      }
      // The argument: t's text and the texts of the tokens after it, up to a
      // comma, comment, end of line or "{"; a "}" ends it and is dropped, and
      // the token after the "}" stops the argument.
      std::size_t u = t + 1;
      scratch.assign(toks[t].text.data(), toks[t].text.size());
      std::size_t stop;
      for (;;) {
        std::uint32_t k = kind_at(u);
        if (k == TK_COMMA || k == TK_COMMENT || k == TK_EOL || k == TK_LBRACE) {
          stop = u;
          break;
        }
        if (k == TK_RBRACE) {
          stop = u + 1;
          break;
        }
        scratch.append(toks[u].text.data(), toks[u].text.size());
        ++u;
      }
      Operand& op = slot(count);
      op = Operand();
      op.text = copy_string(scratch);
      ++count;
      if (kind_at(stop) == TK_EOL || kind_at(stop) == TK_COMMENT) break;
      t = stop + 1;
      if (kind_at(t) == TK_EOL) {
        set_unparsable();
        break;
      }
    }
    line.operand_count = static_cast<std::uint32_t>(count);
  }

  void parse_other_line(std::size_t t) {
    line.kind = (kind_at(t) == TK_EOL || kind_at(t) == TK_COMMENT) ? STMT_BLANK : STMT_OTHER;
    line.mnemonic = std::string_view();
    line.code = 0;
    line.size_code = 0;
    line.format_code = 0;
    line.operand_count = 0;
  }

  void parse_label_line(std::size_t t) {
    std::string_view label = toks[t].text;
    std::size_t u = t + 2;
    switch (kind_at(u)) {
      case TK_MNEMONIC:
        parse_instruction_line(u);
        break;
      case TK_DIRECTIVE:
        parse_directive_line(u);
        break;
      case TK_EOL:
      case TK_COMMENT:
        line.kind = STMT_INSN;
        break;
      default:
        parse_other_line(u);
        return;  // the label is dropped
    }
    line.has_label = true;
    line.label = label;
  }

  void parse_named_directive(std::size_t t, std::size_t d) {
    std::uint32_t id = toks[d].code;
    if (id == DIR_EQU || id == DIR_MACRO || id == DIR_BTEQU || id == DIR_DEFINE) {
      parse_directive_line(d);
      line.has_label = true;
      line.label = toks[t].text;
    } else {
      parse_other_line(t);
    }
  }

  void run() {
    std::uint32_t k1 = kind_at(0);
    std::uint32_t k2 = kind_at(1);
    if (k1 == TK_SYMBOL || k1 == TK_QUESTION) {
      if (k2 == TK_COLON)
        parse_label_line(0);
      else if (k2 == TK_DIRECTIVE)
        parse_named_directive(0, 1);
      else
        parse_other_line(0);
    } else if (k1 == TK_MNEMONIC) {
      parse_instruction_line(0);
    } else if (k1 == TK_DIRECTIVE) {
      parse_directive_line(0);
    } else {
      parse_other_line(0);
    }
    if (line.parse_flags & PF_UNPARSABLE) line.kind = STMT_OTHER;
  }
};

}  // namespace

void parse_line(const std::vector<Token>& tokens, ParsedLine& line) {
  line.kind = STMT_OTHER;
  line.has_label = false;
  line.label = std::string_view();
  line.mnemonic = std::string_view();
  line.code = 0;
  line.size_code = 0;
  line.format_code = 0;
  line.operand_count = 0;
  line.parse_flags = 0;
  LineParser parser{tokens, line, std::string()};
  parser.run();
}
