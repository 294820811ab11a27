#!/usr/bin/env python3
"""Mutation check: do the tests notice when a rule of the program is broken?

Each fault below is one small, deliberate break of a rule (a flipped
comparison, a dropped guard, a limit off by one), written as one exact text
replacement in one source file. For each fault, one at a time, the script
puts it into a scratch copy of the working tree, rebuilds that copy
incrementally, runs the unit tests through ctest and the end-to-end cases
through their runner, and says whether some test failed (the fault is
"killed") or none did (it "survived": a rule no test checks). A failed
build, a crash or a timeout counts as killed.

Run it before and after changing the tests and compare the two results:
every fault killed before must still be killed after. See tools/README.md.

    tools/mutation_check.py                   # every fault
    tools/mutation_check.py -j2 NAME...       # only the named faults
    tools/mutation_check.py --list            # the faults, without running

The scratch copy and its build directory live under --work (kept between
runs, so that a later run builds only what changed); the working tree
itself is never written.
"""

import argparse
import fcntl
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from collections import namedtuple

Fault = namedtuple("Fault", "name file old new why")

# The faults. `old` must occur exactly once in `file`; when the code around
# it changes, update `old` (and `new`) to the same break at its new place.
FAULTS = [
    # ---- reader ----
    Fault("reader_lone_cr_dropped", "src/source/reader.cc",
          "if (data[i] == '\\r' && i + 1 < size && data[i + 1] == '\\n') continue;",
          "if (data[i] == '\\r') continue;",
          "only a CR before a LF is dropped; a lone CR is written back"),
    Fault("reader_first_line_lost", "src/source/reader.cc",
          "    std::memcpy(data, head.data(), head.size());\n    size = head.size();",
          "    std::memcpy(data, head.data(), head.size());\n    size = 0;",
          "the bytes the first-line check read are part of the input"),

    # ---- scanner ----
    Fault("scanner_hex_digit_f", "src/source/scanner.cc",
          "if (c >= 'a' && c <= 'f') d = c - 'a' + 10;",
          "if (c >= 'a' && c < 'f') d = c - 'a' + 10;",
          "value of the lower-case hex digit f (off by one at the range end)"),
    Fault("scanner_octal_digit_7", "src/source/scanner.cc",
          "while (c.cur() >= '0' && c.cur() <= '7') c.advance();",
          "while (c.cur() >= '0' && c.cur() < '7') c.advance();",
          "7 is an octal digit (17O is 15)"),
    Fault("scanner_0bh_read_as_binary", "src/source/scanner.cc",
          "    if (!(is_xdigit(c.cur()) || is_h(c.cur()))) {\n      t.value = number_value(c.bytes.substr(start, c.pos - 1 - start), 2);",
          "    if (!is_xdigit(c.cur())) {\n      t.value = number_value(c.bytes.substr(start, c.pos - 1 - start), 2);",
          "in 0bh the b before the h is a hexadecimal digit: the number 11"),
    Fault("formatter_word_hex_without_leading_zero", "src/source/formatter.cc",
          'case SIZE_W: return (v < 0xA000u ? "" : "0") + hex_digits(v, 4);',
          "case SIZE_W: return hex_digits(v, 4);",
          "a hexadecimal word beginning with a letter digit is written #0A000H"),

    # ---- parser ----
    Fault("parser_unparsable_line_analysed", "src/source/parser.cc",
          "if (line.parse_flags & PF_UNPARSABLE) line.kind = STMT_OTHER;",
          "if (false && (line.parse_flags & PF_UNPARSABLE)) line.kind = STMT_OTHER;",
          "a line the parser does not understand is left alone by every pass"),
    Fault("parser_sb_slot_read_as_frame_slot", "src/source/parser.cc",
          "case 4: op.mode = MODE_INDSB; break;",
          "case 4: op.mode = MODE_INDFB; break;",
          "n[SB] is static memory (maybe a device), not a private frame slot"),
    Fault("parser_macro_name_line_unanalysed", "src/source/parser.cc",
          "if (id == DIR_EQU || id == DIR_MACRO || id == DIR_BTEQU || id == DIR_DEFINE) {",
          "if (id == DIR_EQU || id == DIR_BTEQU || id == DIR_DEFINE) {",
          "\"name .macro\" opens a macro body: conditional code, never shared"),

    # ---- writer and platform ----
    Fault("writer_no_line_feed_after_unterminated_line", "src/output/writer.cc",
          "open_line = text.back() != '\\n';",
          "open_line = false;",
          "a last line without LF gets one when something is written after it"),
    Fault("writer_failed_write_still_renamed", "src/output/writer.cc",
          "    if (!output.close(sink)) report_error(ERR_CANT_WRITE, file_name);\n"
          "    output.is_temp = false;",
          "    output.close(sink);\n    output.is_temp = false;",
          "a failed write is error 12 and never replaces the output"),
    Fault("writer_truncated_direct_output_kept", "src/output/writer.cc",
          "if (!is_device_name(place.file) && is_regular_file(name)) std::remove(name.c_str());",
          "(void)0;",
          "a failed direct write removes the truncated regular file"),
    Fault("platform_replaced_file_mode_lost", "src/driver/platform.cc",
          "if (permission_bits >= 0) fchmod(fd, static_cast<mode_t>(permission_bits));",
          "(void)permission_bits;",
          "a replaced output keeps its permission bits"),
    Fault("platform_ignored_signal_caught", "src/driver/platform.cc",
          "temp_file.caught[i] = !is_ignored(temp_file.previous[i]);",
          "temp_file.caught[i] = true;",
          "a signal ignored before the run (nohup) stays ignored"),

    # ---- marking walks ----
    Fault("marking_end_label_inside_inline_asm", "src/optimizer/marking.cc",
          "bool end = label_starts_with(s, 'E') && !(s->flags & SF_INLINE_ASM);",
          "bool end = label_starts_with(s, 'E');",
          "an E label inside inline assembly is the user's, not a function end"),
    Fault("marking_nested_if_tail_not_conditional", "src/optimizer/marking.cc",
          "case DIR_ENDIF: close_level(depths.if_depth); break;",
          "case DIR_ENDIF: depths.if_depth = 0; break;",
          "the tail of an outer .if after an inner .endif is still conditional"),
    Fault("marking_tarvox_off_ignored", "src/optimizer/marking.cc",
          "if (off_region) s->flags |= SF_NO_OPT;",
          "(void)off_region;",
          "._tarvox OFF switches optimization off up to ._tarvox ON"),
    Fault("marking_glb_name_not_checked", "src/optimizer/marking.cc",
          "if (label && glb_names(s, label)) {",
          "if (label) {",
          "a function entry is the label the .glb names, not any label after it"),
    Fault("marking_asm_marker_case_sensitive", "src/optimizer/marking.cc",
          "return s->kind == STMT_BLANK && equal_ignoring_case(s->text(), marker);",
          "return s->kind == STMT_BLANK && s->text() == marker;",
          "the inline-assembly marker lines are recognised in any letter case"),
    Fault("marking_asm_marker_with_more_text", "src/optimizer/marking.cc",
          "return s->kind == STMT_BLANK && equal_ignoring_case(s->text(), marker);",
          "return s->kind == STMT_BLANK && s->text().size() >= marker.size() - 1 &&\n"
          "         equal_ignoring_case(s->text().substr(0, marker.size() - 1), marker.substr(0, marker.size() - 1));",
          "a marker line with more text on it is a comment, not a marker"),
    Fault("walk_labelled_debug_directive_passed", "src/optimizer/walk.cc",
          "if (is_debugging_line(t) && !t->label) continue;",
          "if (is_debugging_line(t)) continue;",
          "a labelled ._line is a jump target: no pattern spans it"),

    # ---- passes 1001 and 1002 ----
    Fault("merge_immediates_narrowing_at_minus_128", "src/optimizer/merge_logic_and_moves.cc",
          "value >= -128 && value <= 255",
          "value >= -127 && value <= 255",
          "a merged byte hex immediate of -128 is written in 8 bits"),
    Fault("merge_immediates_volatile_destination", "src/optimizer/merge_logic_and_moves.cc",
          "if (!(option_flags & OF_NO_VOLATILE) && !private_destination(d1->operands[1])) return false;",
          "",
          "without -Nvolatile only registers and frame slots take two writes as one"),
    Fault("merge_moves_source_not_plain", "src/optimizer/merge_logic_and_moves.cc",
          "if (!(d1->operands[0].flags & OPF_PLAIN)) return false;",
          "",
          "pass 1002 copies a source only when it is a plain operand"),

    # ---- pass 1003 ----
    Fault("adjnz_sub_step_limit", "src/optimizer/adjnz.cc",
          "if (v < -7 || v > 8) return false;",
          "if (v < -7 || v > 9) return false;",
          "adjnz steps -8..7: sub #9 cannot become adjnz #-9"),
    Fault("adjnz_fall_through_flags_ignored", "src/optimizer/adjnz.cc",
          "if (c.fall_through_dead && target && target->count == 1 && target->flags_dead)",
          "if (target && target->count == 1 && target->flags_dead)",
          "the path after the loop must not read the flags the step set"),
    Fault("adjnz_target_defined_twice", "src/optimizer/adjnz.cc",
          "target->count == 1 &&",
          "target->count >= 1 &&",
          "a jump target defined more than once has no single branch path"),

    # ---- passes 1012, 1004 and the reit step of 1010 ----
    Fault("return_only_inline_asm_movable", "src/optimizer/return_only_parts.h",
          "constexpr std::uint32_t SF_NOT_MOVABLE = SF_INLINE_ASM | SF_CONDITIONAL;",
          "constexpr std::uint32_t SF_NOT_MOVABLE = SF_CONDITIONAL;",
          "no label moves out of or into inline assembly"),
    Fault("return_only_labelled_return_deleted", "src/optimizer/return_only.cc",
          "  return r && is_insn(r, return_insn) && r->label;",
          "  return false && r && is_insn(r, return_insn) && r->label;",
          "a return carrying a label of its own is never deleted"),
    Fault("return_only_labelled_align_deleted", "src/optimizer/return_only.cc",
          "if ((t->flags & SF_INLINE_ASM) || t->label) return nullptr;",
          "if (t->flags & SF_INLINE_ASM) return nullptr;",
          "an .align that carries a label is not the function's own: kept"),
    Fault("return_only_merge_across_sections", "src/optimizer/return_only_index.cc",
          "ix->first_segment_of_name[x] : ix->segment_next_same[start_segment];",
          "ix->first_segment_of_name[x] : start_segment < ix->code_segments ? start_segment + 1 : NONE;",
          "1004 merges only functions of the keeper's CODE section"),
    Fault("reit_merge_looks_for_rts", "src/optimizer/pipeline.cc",
          "pass_merge_return_only(first, INSN_REIT);",
          "pass_merge_return_only(first, INSN_RTS);",
          "the reit step merges handlers by their reit"),

    # ---- passes 1005 and 1007 ----
    Fault("widen_1005_flags_live_after", "src/optimizer/widen.cc",
          "  if (!flags_dead_after(d->next)) return;\n",
          "",
          "a word instruction sets other flags: only where they are dead"),
    Fault("widen_1005_load_reads_register", "src/optimizer/widen.cc",
          "if (reads_word_register(C->operands[0].mode, r0_pattern ? MODE_R0 : MODE_R1)) return;",
          "",
          "the low logic op may not move past a load that reads the register"),
    Fault("widen_1007_memory_not_adjacent", "src/optimizer/widen.cc",
          "return a_source.mode == MODE_ABS && b_source.mode == MODE_ABS && adjacent_bytes(A, B);",
          "return a_source.mode == MODE_ABS && b_source.mode == MODE_ABS;",
          "two byte reads become one word read only for adjacent bytes"),

    # ---- pass 1006 ----
    Fault("btst_runs_by_default", "src/optimizer/pipeline.cc",
          "return (flags & OF_NO_BTSTC) == 0;",
          "return (flags & OF_NO_BTSTC) != 0;",
          "pass 1006 runs only after -O5 or -Obtstc"),
    Fault("btst_absmod_option_ignored", "src/optimizer/btst_modify.cc",
          "if ((option_flags & OF_O5_OFF_ABSMOD) && base == MODE_ABS) return false;",
          "",
          "-O5OA keeps bits of absolute memory apart"),
    Fault("btst_base_text_not_compared", "src/optimizer/btst_modify.cc",
          "if (A->operands[1].text != C->operands[1].text) return false;",
          "",
          "test and set must name the same byte"),

    # ---- passes 1008, 1009 and the push/pop step of 1010 ----
    Fault("drop_1008_byte_move_of_address_register", "src/optimizer/drop_redundant.cc",
          "      return size_code != SIZE_B;",
          "      return true;",
          "a byte move to or from an address register is not a plain copy"),
    Fault("drop_1009_labelled_jump_deleted", "src/optimizer/drop_redundant.cc",
          "  if (j->label) return;",
          "",
          "a jump that carries a label is never deleted (the label would be lost)"),
    Fault("drop_1010_fewer_registers_popped", "src/optimizer/drop_redundant.cc",
          "if (P->operand_count != Q->operand_count) return;",
          "",
          "pushm and popm must name the same registers"),

    # ---- commonization: the search ----
    Fault("search_table_capacity_one_short", "src/commonize/search.cc",
          "if (!c || t.occ_count >= OCC_MAX_COUNT) return found;",
          "if (!c || t.occ_count >= OCC_MAX_COUNT - 1) return found;",
          "the table holds the reference and 1,022 occurrences"),
    Fault("search_inline_asm_occurrence", "src/commonize/search.cc",
          "if (c->flags & SF_INLINE_ASM) return false;",
          "",
          "inline assembly is never replaced by a call"),
    Fault("search_labelled_line_not_a_barrier", "src/commonize/search.cc",
          "  if (s->kind == STMT_BLANK) return false;\n  if (s->label) return true;",
          "  if (s->kind == STMT_BLANK) return false;",
          "no run spans a labelled line (a jump may enter there)"),
    Fault("search_run_grows_past_flow_ending", "src/commonize/search.cc",
          "    ref_last = s;\n    if (is_flow_ending(s)) return;",
          "    ref_last = s;",
          "a shared copy must not jump or return out of its middle"),
    Fault("search_pop_before_push_balanced", "src/commonize/search.cc",
          "if (depth < 0 || unaccounted) broken = true;",
          "if (unaccounted) broken = true;",
          "a run that pops below its entry depth is not shared"),
    Fault("search_push_l_two_bytes", "src/commonize/search.cc",
          "constexpr std::int32_t PUSH_BYTES[] = {0, 1, 2, 4, 4};",
          "constexpr std::int32_t PUSH_BYTES[] = {0, 1, 2, 2, 4};",
          "push.l moves four bytes on the stack"),
    Fault("search_osa_ignored", "src/commonize/search.cc",
          "if (call && (option_flags & OF_SP_ADJUST)) return false;",
          "(void)call;",
          "under -OSA no call is taken into a shared subroutine"),

    # ---- commonization: the fast search ----
    Fault("fast_collect_capacity_one_short", "src/commonize/fast_search.cc",
          "if (t.occ_count < OCC_MAX_COUNT) return Visit::next;",
          "if (t.occ_count < OCC_MAX_COUNT - 1) return Visit::next;",
          "the table fills at exactly 1,022 occurrences"),
    Fault("fast_table_fills_one_over", "src/commonize/fast_search.cc",
          "constexpr std::size_t FULL = OCC_MAX_COUNT - 1;",
          "constexpr std::size_t FULL = OCC_MAX_COUNT;",
          "where the table fills decides where the search stops (sections)"),
    Fault("fast_inline_asm_indexed", "src/commonize/fast_search.cc",
          "if (s->flags & (SF_NO_OPT | SF_INLINE_ASM)) return false;",
          "if (s->flags & SF_NO_OPT) return false;",
          "inline assembly never enters the index of possible occurrences"),
    Fault("fast_window_one_too_long", "src/commonize/fast_search.cc",
          "std::min<std::int32_t>(shortest_shared_length(), GRAM_MAX)",
          "std::min<std::int32_t>(shortest_shared_length() + 1, GRAM_MAX)",
          "a run of exactly the shortest shared length is still found"),

    # ---- commonization: emission ----
    Fault("emit_flow_ending_group_called_by_jsr", "src/commonize/emit.cc",
          "bool jump = group_ends_flow();",
          "bool jump = false;",
          "a group ending in jmp/rts is entered by jmp, not jsr"),
    Fault("emit_call_takes_label_roles", "src/commonize/emit.cc",
          "call->flags = (p->flags & ~LABEL_ROLES) |",
          "call->flags = p->flags |",
          "a call placed after a label line does not become an entry or end"),
    Fault("emit_shared_return_unmarked", "src/commonize/emit.cc",
          "rts->flags |= SF_NO_OPT | SF_SHARED_RETURN;",
          "rts->flags |= SF_NO_OPT;",
          "flags live out of a shared subroutine through its rts"),
    Fault("emit_end_label_name_taken", "src/commonize/emit.cc",
          "while (labels_in_use.count(name) || labels_in_use.count(\"E\" + name))",
          "while (labels_in_use.count(name))",
          "neither generated label may already be defined in the file"),

    # ---- command line ----
    Fault("options_version_after_errors", "src/driver/options.cc",
          "  if (option_flags & OF_VERSION) {\n    print_version();\n    throw RunExit{0};\n  }\n"
          "  check_command_line();",
          "  check_command_line();\n"
          "  if (option_flags & OF_VERSION) {\n    print_version();\n    throw RunExit{0};\n  }",
          "-V wins over every error of the command line"),
    Fault("options_last_unknown_option_named", "src/driver/options.cc",
          "if (!(cmdline_state & CS_BAD_OPTION)) bad_option_arg = copy_string(arg);",
          "bad_option_arg = copy_string(arg);",
          "error 3 names the first unknown option"),
    Fault("options_empty_off_accepted", "src/driver/options.cc",
          "if (!rest.empty() && digits_value(rest, &value))",
          "if (digits_value(rest, &value))",
          "-off= without a number is error 6"),
    Fault("options_lower_v_is_version", "src/driver/options.cc",
          "{WHOLE_EXACT, {\"-V\", {}}, OF_VERSION, 0, nullptr},",
          "{WHOLE_IGNORE_CASE, {\"-V\", {}}, OF_VERSION, 0, nullptr},",
          "-V is exact case; -v is an unknown option"),

    # ---- messages and the run ----
    Fault("diagnostics_write_error_text", "src/driver/diagnostics.cc",
          "{ERR_CANT_WRITE, \"can't write %s\"},",
          "{ERR_CANT_WRITE, \"can't open %s\"},",
          "error 12 says can't write"),
    Fault("diagnostics_unknown_number_not_fatal", "src/driver/diagnostics.cc",
          "if (row.number == -1) report_fatal(severity.miss_number);",
          "",
          "an unknown message number is reported as fatal 1..3"),
    Fault("diagnostics_old_message_wins_over_tm", "src/driver/diagnostics.cc",
          "if (option_flags & OF_TM_MESSAGES) {",
          "if ((option_flags & OF_TM_MESSAGES) && !(option_flags & OF_OLD_MESSAGE)) {",
          "-tm wins when -tm and -OM are both given"),
    Fault("run_first_line_limit", "src/driver/run.cc",
          "constexpr std::size_t FIRST_LINE_LIMIT = 1022;",
          "constexpr std::size_t FIRST_LINE_LIMIT = 1023;",
          "only the first 1022 bytes of the first line are looked at"),
    Fault("run_crlf_language_line", "src/driver/run.cc",
          "if (!line.empty() && line.back() == '\\r') line.remove_suffix(1);",
          "",
          "._LANG 'C' ending in CR LF is accepted"),
    Fault("run_unreadable_input_is_error_11", "src/driver/run.cc",
          "if (unreadable) report_error(ERR_CANT_OPEN, file_name);",
          "",
          "an input that opens but cannot be read (a directory) is error 10"),
]


def log(message):
    print(message, flush=True)


def run(command, timeout=None, env=None):
    """Runs a command in a process group of its own; returns (status, output).
    On a timeout the whole group is killed and the status is None."""
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env,
                               text=True, errors="replace", start_new_session=True)
    try:
        output, _ = process.communicate(timeout=timeout)
        return process.returncode, output
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        output, _ = process.communicate()
        return None, output


def read_text(path):
    with open(path, encoding="utf-8", newline="") as f:
        return f.read()


def write_text(path, text):
    with open(path, "w", encoding="utf-8", newline="") as f:
        f.write(text)


def check_faults(repo, faults):
    """The faults whose old text occurs exactly once, and a message for each
    fault that cannot be applied."""
    usable, problems = [], []
    for fault in faults:
        path = os.path.join(repo, fault.file)
        count = read_text(path).count(fault.old) if os.path.isfile(path) else -1
        if count == 1 and fault.old != fault.new:
            usable.append(fault)
        elif count == -1:
            problems.append(f"{fault.name}: {fault.file} does not exist")
        elif count != 1:
            problems.append(f"{fault.name}: old text found {count} times in {fault.file}")
        else:
            problems.append(f"{fault.name}: old and new text are the same")
    return usable, problems


def sync_copy(repo, copy):
    """Makes `copy` hold the working tree's files (tracked and untracked, not
    ignored): files that differ are copied, files that left are removed, so
    the build directory sees only real changes."""
    listing = subprocess.run(["git", "-C", repo, "ls-files", "-z", "--cached", "--others",
                              "--exclude-standard"], check=True, capture_output=True).stdout
    wanted = {name for name in listing.decode().split("\0") if name}
    wanted = {name for name in wanted if os.path.isfile(os.path.join(repo, name))}
    for name in wanted:
        source, target = os.path.join(repo, name), os.path.join(copy, name)
        with open(source, "rb") as f:
            data = f.read()
        mode = os.stat(source).st_mode & 0o7777
        if os.path.isfile(target) and os.stat(target).st_mode & 0o7777 == mode:
            with open(target, "rb") as f:
                if f.read() == data:
                    continue
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as f:
            f.write(data)
        os.chmod(target, mode)
    for root, _, files in os.walk(copy):
        for file_name in files:
            name = os.path.relpath(os.path.join(root, file_name), copy)
            if name not in wanted:
                os.remove(os.path.join(root, file_name))


# "  12 - Suite.Name  # GetParam() = ... (Failed)": the name, and why.
FAILED_TEST = re.compile(r"^\s*\d+ - (\S+).*?(?:\(([^()]*)\))?\s*$")


def failed_ctest_tests(output):
    names, in_list = [], False
    for line in output.splitlines():
        if line.startswith("The following tests FAILED"):
            in_list = True
        elif in_list:
            match = FAILED_TEST.match(line)
            if match:
                reason = match.group(2)
                names.append(match.group(1) if reason in (None, "Failed") else f"{match.group(1)} ({reason})")
    return names


def run_tests(args, copy, build, scratch):
    """Every test of the build: the ctest tests but e2e, then the e2e cases.
    Returns the names of the failed ones (empty: all passed)."""
    failed = []
    status, output = run(["ctest", "--test-dir", build, "-E", "^e2e$", "--no-tests=error",
                          "--timeout", str(args.timeout), "-j", str(args.jobs)])
    failed += failed_ctest_tests(output)
    if status != 0 and not failed:
        failed.append("ctest (" + (output.strip().splitlines() or ["no output"])[-1] + ")")
    # The runner's temporary folders go to a folder of our own, emptied
    # after each run: a runner killed at its timeout cannot remove them.
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(scratch)
    status, output = run([os.path.join(copy, "tests/e2e/run_cases.sh"), os.path.join(build, "tarvox"),
                          os.path.join(copy, "tests/e2e")], timeout=args.e2e_timeout,
                         env=dict(os.environ, TMPDIR=scratch))
    run(["chmod", "-R", "u+w", scratch])
    shutil.rmtree(scratch, ignore_errors=True)
    failed += ["e2e:" + line[5:] for line in output.splitlines() if line.startswith("FAIL ")]
    if status is None:
        failed.append(f"e2e (timeout after {args.e2e_timeout} s)")
    elif status != 0 and not any(name.startswith("e2e") for name in failed):
        failed.append("e2e (runner failed)")
    return failed


def build_copy(args, build):
    status, output = run(["cmake", "--build", build, "-j", str(args.jobs)])
    return status == 0, output


def describe(tests, limit):
    shown = ", ".join(tests[:limit])
    return shown + (f" (+{len(tests) - limit} more)" if len(tests) > limit else "")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("names", nargs="*", help="run only these faults")
    parser.add_argument("-j", "--jobs", type=int, default=2, help="build and ctest jobs (default 2)")
    parser.add_argument("--work", default=os.path.join(tempfile.gettempdir(), f"tarvox-mutation-{os.getuid()}"),
                        help="scratch copy and build directory, kept between runs")
    parser.add_argument("--timeout", type=int, default=120, help="seconds per ctest test (default 120)")
    parser.add_argument("--e2e-timeout", type=int, default=600, help="seconds for all e2e cases (default 600)")
    parser.add_argument("--show", type=int, default=4, help="failed tests named per killed fault (default 4)")
    parser.add_argument("--results", help="also write every fault's result and all its failed tests here")
    parser.add_argument("--list", action="store_true", help="list the faults (and any that cannot be applied) and exit")
    args = parser.parse_args()

    repo = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    faults = FAULTS
    if args.names:
        known = {fault.name for fault in FAULTS}
        unknown = [name for name in args.names if name not in known]
        if unknown:
            sys.exit("unknown fault: " + ", ".join(unknown))
        faults = [fault for fault in FAULTS if fault.name in args.names]
    usable, problems = check_faults(repo, faults)
    for problem in problems:
        log(f"not applied  {problem}")
    if args.list:
        for fault in faults:
            log(f"{fault.name:48} {fault.file:36} {fault.why}")
        return 1 if problems else 0

    copy, build = os.path.join(args.work, "src"), os.path.join(args.work, "build")
    scratch = os.path.join(args.work, "tmp")
    os.makedirs(copy, exist_ok=True)
    # One check at a time in a work directory; held until the process ends.
    lock = open(os.path.join(args.work, "lock"), "w")
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except BlockingIOError:
        sys.exit(f"another mutation check is using {args.work}; give another --work")
    sync_copy(repo, copy)
    if not os.path.isfile(os.path.join(build, "CMakeCache.txt")):
        status, output = run(["cmake", "-S", copy, "-B", build, "-DTARVOX_TESTS=ON"])
        if status != 0:
            sys.exit("configuring the scratch copy failed:\n" + output)

    # The unchanged code must build and pass, or every fault would look killed.
    started = time.time()
    built, output = build_copy(args, build)
    if not built:
        sys.exit("the unchanged code does not build:\n" + output[-3000:])
    failed = run_tests(args, copy, build, scratch)
    if failed:
        sys.exit("the unchanged code fails tests: " + describe(failed, 20))
    log(f"baseline: builds and passes every test ({time.time() - started:.0f} s)")

    killed, survived = [], []
    records = []
    for fault in usable:
        started = time.time()
        path = os.path.join(copy, fault.file)
        original = read_text(path)
        try:
            write_text(path, original.replace(fault.old, fault.new, 1))
            built, output = build_copy(args, build)
            failed = run_tests(args, copy, build, scratch) if built else ["build failed"]
        finally:
            write_text(path, original)
        seconds = time.time() - started
        if failed:
            killed.append(fault.name)
            log(f"{fault.name:48} {fault.file:36} killed    {describe(failed, args.show)}  [{seconds:.0f} s]")
        else:
            survived.append(fault.name)
            log(f"{fault.name:48} {fault.file:36} SURVIVED  [{seconds:.0f} s]")
        records.append((fault, failed))

    # The copy back as it was: the next run rebuilds only what changed since.
    build_copy(args, build)

    if args.results:
        with open(args.results, "w", encoding="utf-8") as f:
            for fault, failed in records:
                f.write(f"{fault.name}\t{fault.file}\t{'killed' if failed else 'survived'}\t{' '.join(failed)}\n")

    log("")
    log(f"summary: {len(killed)} killed, {len(survived)} survived, {len(problems)} not applied"
        f" (of {len(faults)} faults)")
    if survived:
        log("survived: " + ", ".join(survived))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
