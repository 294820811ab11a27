// The target's vocabulary: the instruction, directive and register/mode
// tables. Everywhere else the program names instructions, directives and
// addressing modes by the ids fixed here; the look-ups ignore letter case.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// Instruction ids (row ids of the instruction table).
enum InsnId : std::uint32_t {
  INSN_NONE = 0,
  INSN_ABS = 1,
  INSN_ADC = 2,
  INSN_ADCF = 3,
  INSN_ADD = 4,
  INSN_ADJNZ = 5,
  INSN_AND = 6,
  INSN_BAND = 7,
  INSN_BCLR = 8,
  INSN_BMGEU = 9,
  INSN_BMC = 10,
  INSN_BMEQ = 11,
  INSN_BMZ = 12,
  INSN_BMGTU = 13,
  INSN_BMPZ = 14,
  INSN_BMGE = 15,
  INSN_BMGT = 16,
  INSN_BMO = 17,
  INSN_BMLTU = 18,
  INSN_BMNC = 19,
  INSN_BMNE = 20,
  INSN_BMNZ = 21,
  INSN_BMLEU = 22,
  INSN_BMN = 23,
  INSN_BMLE = 24,
  INSN_BMLT = 25,
  INSN_BMNO = 26,
  INSN_BNAND = 27,
  INSN_BNOR = 28,
  INSN_BNOT = 29,
  INSN_BNTST = 30,
  INSN_BNXOR = 31,
  INSN_BOR = 32,
  INSN_BRK = 33,
  INSN_BSET = 34,
  INSN_BTST = 35,
  INSN_BTSTC = 36,
  INSN_BTSTS = 37,
  INSN_BXOR = 38,
  INSN_CMP = 39,
  INSN_DADC = 40,
  INSN_DADD = 41,
  INSN_DEC = 42,
  INSN_DIV = 43,
  INSN_DIVU = 44,
  INSN_DIVX = 45,
  INSN_DSBB = 46,
  INSN_DSUB = 47,
  INSN_ENTER = 48,
  INSN_EXITD = 49,
  INSN_EXTS = 50,
  INSN_FCLR = 51,
  INSN_FSET = 52,
  INSN_INC = 53,
  INSN_INT = 54,
  INSN_INTO = 55,
  INSN_JGEU = 56,
  INSN_JC = 57,
  INSN_JEQ = 58,
  INSN_JZ = 59,
  INSN_JGTU = 60,
  INSN_JPZ = 61,
  INSN_JGE = 62,
  INSN_JGT = 63,
  INSN_JO = 64,
  INSN_JLTU = 65,
  INSN_JNC = 66,
  INSN_JNE = 67,
  INSN_JNZ = 68,
  INSN_JLEU = 69,
  INSN_JN = 70,
  INSN_JLE = 71,
  INSN_JLT = 72,
  INSN_JNO = 73,
  INSN_JMP = 74,
  INSN_JMPI = 75,
  INSN_JMPS = 76,
  INSN_JSR = 77,
  INSN_JSRI = 78,
  INSN_JSRS = 79,
  INSN_LDC = 80,
  INSN_LDCTX = 81,
  INSN_LDE = 82,
  INSN_LDINTB = 83,
  INSN_LDIPL = 84,
  INSN_MOV = 85,
  INSN_MOVA = 86,
  INSN_MOVHH = 87,
  INSN_MOVHL = 88,
  INSN_MOVLH = 89,
  INSN_MOVLL = 90,
  INSN_MUL = 91,
  INSN_MULU = 92,
  INSN_NEG = 93,
  INSN_NOP = 94,
  INSN_NOT = 95,
  INSN_OR = 96,
  INSN_POP = 97,
  INSN_POPC = 98,
  INSN_POPM = 99,
  INSN_PUSH = 100,
  INSN_PUSHA = 101,
  INSN_PUSHC = 102,
  INSN_PUSHM = 103,
  INSN_REIT = 104,
  INSN_RMPA = 105,
  INSN_ROLC = 106,
  INSN_RORC = 107,
  INSN_ROT = 108,
  INSN_RTS = 109,
  INSN_SBB = 110,
  INSN_SBJNZ = 111,
  INSN_SHA = 112,
  INSN_SHL = 113,
  INSN_SMOVB = 114,
  INSN_SMOVF = 115,
  INSN_SSTR = 116,
  INSN_STC = 117,
  INSN_STCTX = 118,
  INSN_STE = 119,
  INSN_STNZ = 120,
  INSN_STZ = 121,
  INSN_STZX = 122,
  INSN_SUB = 123,
  INSN_TST = 124,
  INSN_UND = 125,
  INSN_WAIT = 126,
  INSN_XCHG = 127,
  INSN_XOR = 128,
  INSN_TABLE_END = 129,  // every id fits the byte Statement::detail_code keeps
};

// Directive ids (row ids of the directive table).
enum DirectiveId : std::uint32_t {
  DIR_NONE = 0,
  DIR_DOTFILE = 1,
  DIR_DOTMACPARA = 2,
  DIR_DOTMACREP = 3,
  DIR_ADDR = 4,
  DIR_ALIGN = 5,
  DIR_ASSERT = 6,
  DIR_BLKA = 7,
  DIR_BLKB = 8,
  DIR_BLKD = 9,
  DIR_BLKF = 10,
  DIR_BLKW = 11,
  DIR_BTEQU = 12,
  DIR_BYTE = 13,
  DIR_DEFINE = 14,
  DIR_DOUBLE = 15,
  DIR_ELIF = 16,
  DIR_ELSE = 17,
  DIR_END = 18,
  DIR_ENDIF = 19,
  DIR_ENDM = 20,
  DIR_ENDR = 21,
  DIR_EQU = 22,
  DIR_EXITM = 23,
  DIR_FLOAT = 24,
  DIR_FORM = 25,
  DIR_GLB = 26,
  DIR_IF = 27,
  DIR_INCLUDE = 28,
  DIR_INSTR = 29,
  DIR_LEN = 30,
  DIR_LIST = 31,
  DIR_LOCAL = 32,
  DIR_MACRO = 33,
  DIR_MREPEAT = 34,
  DIR_ORG = 35,
  DIR_PAGE = 36,
  DIR_SECTION = 37,
  DIR_SUBSTR = 38,
  DIR_VER = 39,
  DIR_WORD = 40,
  DIR_INSF = 41,
  DIR_EINSF = 42,
  DIR_CALL = 43,
  DIR_STK = 44,
  DIR_BLKL = 45,
  DIR_BTGLB = 46,
  DIR_FB = 47,
  DIR_FBSYM = 48,
  DIR_LWORD = 49,
  DIR_OPTJ = 50,
  DIR_SB = 51,
  DIR_SBBIT = 52,
  DIR_SBSYM = 53,
  DIR_SJMP = 54,
  DIR_QUESTION = 55,
  DIR_AT = 56,
  DIR__LINE = 57,
  DIR__FUNC = 58,
  DIR__FILE = 59,
  DIR__VAR = 60,
  DIR__EFUNC = 61,
  DIR__BLOCK = 62,
  DIR__LANG = 63,
  DIR__EBLOCK = 64,
  DIR__TYPE = 65,
  DIR__INSPECT = 66,
  DIR__TARVOX = 67,
  DIR_RVECTOR = 68,
  DIR_TABLE_END = 69,  // every id fits the byte Statement::detail_code keeps
};

// Register/keyword ids, which double as the addressing modes of operands.
enum ModeId : std::uint32_t {
  AM_NONE = 0,
  MODE_R0L = 1,
  MODE_R0H = 2,
  MODE_R1L = 3,
  MODE_R1H = 4,
  MODE_R0 = 5,
  MODE_R1 = 6,
  MODE_R2 = 7,
  MODE_R3 = 8,
  MODE_A0 = 9,
  MODE_A1 = 10,
  MODE_SB = 11,
  MODE_FB = 12,
  MODE_SP = 13,
  MODE_INTB = 14,
  MODE_INTBH = 15,
  MODE_INTBL = 16,
  MODE_ISP = 17,
  MODE_USP = 18,
  MODE_FLG = 19,
  MODE_PC = 20,
  MODE_IPL = 21,
  MODE_R2R0 = 22,
  MODE_R3R1 = 23,
  MODE_A1A0 = 24,
  MODE_IND_A0 = 25,
  MODE_IND_A1 = 26,
  MODE_INDA0 = 27,
  MODE_INDA1 = 28,
  MODE_INDSB = 29,
  MODE_INDFB = 30,
  MODE_IN8DSP = 31,
  MODE_IND_A1A0 = 32,
  MODE_U = 33,
  MODE_I = 34,
  MODE_O = 35,
  MODE_B = 36,
  MODE_S = 37,
  MODE_Z = 38,
  MODE_D = 39,
  MODE_C = 40,
  MODE_ABS = 41,
  MODE_SYMBOL = 42,
  MODE_IMM = 43,
  MODE_TABLE_END = 44,
};

// Size codes and format codes of an instruction.
enum SizeCode : std::uint32_t { SIZE_NONE = 0, SIZE_B = 1, SIZE_W = 2, SIZE_L = 3, SIZE_A = 4 };
enum FormatCode : std::uint32_t { FMT_NONE = 0, FMT_G = 1, FMT_S = 2, FMT_Q = 3, FMT_Z = 4 };

struct InstructionRow {
  std::uint32_t id;
  std::string_view mnemonic;
  std::uint32_t least_operands;
  std::uint32_t greatest_operands;
};
struct DirectiveRow {
  std::uint32_t id;
  std::string_view name;
};
struct RegisterRow {
  std::uint32_t id;
  std::string_view name;
  std::uint32_t plain;
};

// The tables, row 0 first and the end row last.
extern const InstructionRow INSTRUCTION_TABLE[130];
extern const DirectiveRow DIRECTIVE_TABLE[70];
extern const RegisterRow REGISTER_TABLE[45];

// Instruction id of a word, or 0 (INSN_NONE); the end row is never matched.
std::uint32_t lookup_mnemonic(std::string_view word);
// Directive id of a dotted word, or 0.
std::uint32_t lookup_directive(std::string_view word);
// Size code (1..4) of ".b", ".w", ".l", ".a" in any case, or 0.
std::uint32_t lookup_size(std::string_view word);
// The register row of a word, or nullptr.
const RegisterRow* lookup_register(std::string_view word);
// Format code of "g", "s", "q", "z" in any case, or 0.
std::uint32_t lookup_format(std::string_view word);
// Base register code: A0 1, A1 2, A1A0 3, SB 4, FB 5, SP 6, else 0.
std::uint32_t base_register_code(std::string_view word);
// Width code of a width specifier number: 8 1, 16 2, 20 3, 24 4, 11 5,
// 19 6, 27 7, else 0.
std::uint32_t width_code(std::uint32_t number);

// Words written back by the formatter for size and format codes ("" for 0
// and for unknown codes).
std::string_view size_suffix(std::uint32_t size_code);
std::string_view format_suffix(std::uint32_t format_code);

// A constant list of instruction ids as a table indexed by id, made when
// the program is compiled: whether an id is in the list is one load.
class InsnIdSet {
 public:
  template <std::size_t N>
  constexpr explicit InsnIdSet(const std::uint32_t (&ids)[N]) : in_{} {
    for (std::uint32_t id : ids) in_[id] = true;
  }
  constexpr bool contains(std::uint32_t id) const { return id <= INSN_TABLE_END && in_[id]; }

 private:
  bool in_[INSN_TABLE_END + 1];
};

// Groups of instructions and directives that the passes test.
inline bool is_conditional_jump(std::uint32_t id) { return id >= INSN_JGEU && id <= INSN_JNO; }
inline bool is_debugging_directive(std::uint32_t id) { return id >= DIR__LINE && id <= DIR__INSPECT; }
