// The x86-64 assembler of the native code (see native-code.h): the few
// instructions it emits, into a byte vector with a pool of 16-byte
// constants, and labels whose 32-bit displacements are fixed when the code
// is copied to its place (native-code.cpp's install).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "runtime/cell.h"

namespace kiv::native_code {

enum Reg : int { rax, rcx, rdx, rbx, rsp, rbp, rsi, rdi, r8, r9, r10, r11, r12, r13, r14, r15 };
enum Cond : std::uint8_t { o = 0, b = 2, ae = 3, e = 4, ne = 5, be = 6, a = 7, l = 0xC, ge = 0xD, le = 0xE, g = 0xF };

// A memory operand: [base + index + disp], or a constant of the pool
// (RIP-relative) when pool >= 0.
struct Mem {
    int base = -1;
    int index = -1;
    std::int32_t disp = 0;
    int pool = -1;
};
inline Mem at(int base, std::int32_t disp) { return Mem{base, -1, disp, -1}; }
inline Mem at(int base, int index, std::int32_t disp) { return Mem{base, index, disp, -1}; }
inline Mem constant(int pool_offset) { return Mem{-1, -1, 0, pool_offset}; }

struct Asm {
    std::vector<std::uint8_t> code;
    std::vector<std::uint8_t> pool;
    std::vector<int> label_at;
    struct Fix { int where; int label; };
    std::vector<Fix> jumps;
    struct PoolFix { int where; int offset; };
    std::vector<PoolFix> pool_fixes;

    void byte(std::uint8_t v) { code.push_back(v); }
    void u32(std::uint32_t v) { for (int i = 0; i < 4; ++i) byte(static_cast<std::uint8_t>(v >> (8 * i))); }
    void u64(std::uint64_t v) { for (int i = 0; i < 8; ++i) byte(static_cast<std::uint8_t>(v >> (8 * i))); }

    int add_constant(const Cell& c) {
        while (pool.size() % 16) pool.push_back(0);
        const int off = static_cast<int>(pool.size());
        const auto* p = reinterpret_cast<const std::uint8_t*>(&c);
        pool.insert(pool.end(), p, p + 16);
        return off;
    }

    void rex(bool w, int reg, const Mem& m) {
        std::uint8_t r = 0x40 | (w ? 8 : 0) | ((reg & 8) ? 4 : 0);
        if (m.pool < 0) {
            if (m.index >= 0 && (m.index & 8)) r |= 2;
            if (m.base & 8) r |= 1;
        }
        if (r != 0x40) byte(r);
    }
    void modrm(int reg, const Mem& m) {
        if (m.pool >= 0) {
            byte(static_cast<std::uint8_t>(((reg & 7) << 3) | 5));
            pool_fixes.push_back(PoolFix{static_cast<int>(code.size()), m.pool});
            u32(0);
            return;
        }
        if (m.index >= 0) {
            byte(static_cast<std::uint8_t>(0x80 | ((reg & 7) << 3) | 4));
            byte(static_cast<std::uint8_t>(((m.index & 7) << 3) | (m.base & 7)));
        } else if ((m.base & 7) == 4) {
            byte(static_cast<std::uint8_t>(0x80 | ((reg & 7) << 3) | 4));
            byte(0x24);
        } else {
            byte(static_cast<std::uint8_t>(0x80 | ((reg & 7) << 3) | (m.base & 7)));
        }
        u32(static_cast<std::uint32_t>(m.disp));
    }
    // prefix, REX, opcode bytes, ModRM for reg and the memory operand.
    void op(std::initializer_list<std::uint8_t> prefix, bool w, std::initializer_list<std::uint8_t> opcode, int reg,
            const Mem& m) {
        for (auto p : prefix) byte(p);
        rex(w, reg, m);
        for (auto c : opcode) byte(c);
        modrm(reg, m);
    }
    void op_rr(std::initializer_list<std::uint8_t> prefix, bool w, std::initializer_list<std::uint8_t> opcode, int reg,
               int rm) {
        for (auto p : prefix) byte(p);
        std::uint8_t r = 0x40 | (w ? 8 : 0) | ((reg & 8) ? 4 : 0) | ((rm & 8) ? 1 : 0);
        if (r != 0x40) byte(r);
        for (auto c : opcode) byte(c);
        byte(static_cast<std::uint8_t>(0xC0 | ((reg & 7) << 3) | (rm & 7)));
    }

    void load64(int r, const Mem& m) { op({}, true, {0x8B}, r, m); }
    void load32(int r, const Mem& m) { op({}, false, {0x8B}, r, m); }
    void store64(const Mem& m, int r) { op({}, true, {0x89}, r, m); }
    void store32(const Mem& m, int r) { op({}, false, {0x89}, r, m); }
    void lea(int r, const Mem& m) { op({}, true, {0x8D}, r, m); }
    void store32_imm(const Mem& m, std::uint32_t v) {
        op({}, false, {0xC7}, 0, m);
        u32(v);
    }
    void store64_imm(const Mem& m, std::int32_t v) {
        op({}, true, {0xC7}, 0, m);
        u32(static_cast<std::uint32_t>(v));
    }
    void cmp32_imm(const Mem& m, std::uint32_t v) {
        op({}, false, {0x81}, 7, m);
        u32(v);
    }
    void cmp8_imm(const Mem& m, std::uint8_t v) {
        op({}, false, {0x80}, 7, m);
        byte(v);
    }
    void test32_imm(const Mem& m, std::uint32_t v) {
        op({}, false, {0xF7}, 0, m);
        u32(v);
    }
    void mov_imm64(int r, std::uint64_t v) {
        byte(static_cast<std::uint8_t>(0x48 | ((r & 8) ? 1 : 0)));
        byte(static_cast<std::uint8_t>(0xB8 + (r & 7)));
        u64(v);
    }
    void mov_rr(int dst, int src) { op_rr({}, true, {0x89}, src, dst); }
    void mov32_rr(int dst, int src) { op_rr({}, false, {0x89}, src, dst); }
    void add_imm(int r, std::int32_t v) {
        op_rr({}, true, {0x81}, 0, r);
        u32(static_cast<std::uint32_t>(v));
    }
    void sub_rr(int dst, int src) { op_rr({}, true, {0x29}, src, dst); }
    void sub32_rr(int dst, int src) { op_rr({}, false, {0x29}, src, dst); }
    void cmp_rr(int a, int b2) { op_rr({}, true, {0x39}, b2, a); }
    void cmp64_mem(int r, const Mem& m) { op({}, true, {0x3B}, r, m); }
    void cmp32_rimm(int r, std::uint32_t v) {
        op_rr({}, false, {0x81}, 7, r);
        u32(v);
    }
    void test32_rr(int a, int b2) { op_rr({}, false, {0x85}, b2, a); }
    void and32_rr(int dst, int src) { op_rr({}, false, {0x21}, src, dst); }
    // 32-bit arithmetic with the result in `r`; the overflow flag set.
    void add32_imm(int r, std::uint32_t v) { op_rr({}, false, {0x81}, 0, r), u32(v); }
    void sub32_imm(int r, std::uint32_t v) { op_rr({}, false, {0x81}, 5, r), u32(v); }
    void imul32_imm(int r, std::uint32_t v) { op_rr({}, false, {0x69}, r, r), u32(v); }
    void add32_rr(int dst, int src) { op_rr({}, false, {0x01}, src, dst); }
    void imul32_rr(int dst, int src) { op_rr({}, false, {0x0F, 0xAF}, dst, src); }
    void cmp32_rr(int a, int b2) { op_rr({}, false, {0x39}, b2, a); }
    // edx:eax divided by `r` (signed): the quotient in eax, the remainder
    // in edx; cdq first sign-extends eax into edx.
    void cdq() { byte(0x99); }
    void idiv32(int r) { op_rr({}, false, {0xF7}, 7, r); }
    void setcc(Cond c, int r) { op_rr({}, false, {0x0F, static_cast<std::uint8_t>(0x90 + c)}, 0, r); }
    void movzx8(int dst, int src) { op_rr({}, false, {0x0F, 0xB6}, dst, src); }
    void movdqu_load(int x, const Mem& m) { op({0xF3}, false, {0x0F, 0x6F}, x, m); }
    void movdqu_store(const Mem& m, int x) { op({0xF3}, false, {0x0F, 0x7F}, x, m); }
    void pcmpeqb(int x, const Mem& m) { op({0x66}, false, {0x0F, 0x74}, x, m); }
    void pand(int x, int y) { op_rr({0x66}, false, {0x0F, 0xDB}, x, y); }
    void pmovmskb(int r, int x) { op_rr({0x66}, false, {0x0F, 0xD7}, r, x); }
    void push(int r) {
        if (r & 8) byte(0x41);
        byte(static_cast<std::uint8_t>(0x50 + (r & 7)));
    }
    void pop(int r) {
        if (r & 8) byte(0x41);
        byte(static_cast<std::uint8_t>(0x58 + (r & 7)));
    }
    void ret() { byte(0xC3); }
    void call_abs(const void* fn) {
        mov_imm64(rax, reinterpret_cast<std::uint64_t>(fn));
        byte(0xFF), byte(0xD0);
    }

    int label() {
        label_at.push_back(-1);
        return static_cast<int>(label_at.size()) - 1;
    }
    void bind(int l) { label_at[l] = static_cast<int>(code.size()); }
    void jcc(Cond c, int l) {
        byte(0x0F), byte(static_cast<std::uint8_t>(0x80 + c));
        jumps.push_back(Fix{static_cast<int>(code.size()), l});
        u32(0);
    }
    void jmp(int l) {
        byte(0xE9);
        jumps.push_back(Fix{static_cast<int>(code.size()), l});
        u32(0);
    }
    void call_label(int l) {
        byte(0xE8);
        jumps.push_back(Fix{static_cast<int>(code.size()), l});
        u32(0);
    }
};

}  // namespace kiv::native_code
