// The native code's assembler against the encodings of the Intel manual
// (each row as an assembler lists it), for every instruction form it emits
// and the operands that take extra bytes: REX for r8-r15, a SIB byte for
// an rsp or r12 base, RIP-relative pool constants, prefixes before REX.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "runtime/evaluator/x86-assembler.h"

namespace kiv::native_code {

namespace {

struct Encoding {
    const char* text;
    std::function<void(Asm&)> emit;
    std::vector<std::uint8_t> bytes;
};

TEST(X86AssemblerTest, EncodesEachInstructionForm) {
    const std::vector<Encoding> table = {
        {"mov rax, [rbx+8]", [](Asm& a) { a.load64(rax, at(rbx, 8)); }, {0x48, 0x8B, 0x83, 8, 0, 0, 0}},
        {"mov rcx, [r12+16]", [](Asm& a) { a.load64(rcx, at(r12, 16)); }, {0x49, 0x8B, 0x8C, 0x24, 16, 0, 0, 0}},
        {"mov rax, [r13+rdx]", [](Asm& a) { a.load64(rax, at(r13, rdx, 0)); }, {0x49, 0x8B, 0x84, 0x15, 0, 0, 0, 0}},
        {"mov r9, [rsi+r10-4]", [](Asm& a) { a.load64(r9, at(rsi, r10, -4)); },
         {0x4E, 0x8B, 0x8C, 0x16, 0xFC, 0xFF, 0xFF, 0xFF}},
        {"mov edx, [r13+12]", [](Asm& a) { a.load32(rdx, at(r13, 12)); }, {0x41, 0x8B, 0x95, 12, 0, 0, 0}},
        {"mov [rax], ecx", [](Asm& a) { a.store32(at(rax, 0), rcx); }, {0x89, 0x88, 0, 0, 0, 0}},
        {"mov [r12+8], rax", [](Asm& a) { a.store64(at(r12, 8), rax); }, {0x49, 0x89, 0x84, 0x24, 8, 0, 0, 0}},
        {"lea rdi, [rsp+32]", [](Asm& a) { a.lea(rdi, at(rsp, 32)); }, {0x48, 0x8D, 0xBC, 0x24, 32, 0, 0, 0}},
        {"mov dword [rbx], 0x12345678", [](Asm& a) { a.store32_imm(at(rbx, 0), 0x12345678); },
         {0xC7, 0x83, 0, 0, 0, 0, 0x78, 0x56, 0x34, 0x12}},
        {"mov qword [rsp+8], -1", [](Asm& a) { a.store64_imm(at(rsp, 8), -1); },
         {0x48, 0xC7, 0x84, 0x24, 8, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"cmp dword [rbx+8], 5", [](Asm& a) { a.cmp32_imm(at(rbx, 8), 5); },
         {0x81, 0xBB, 8, 0, 0, 0, 5, 0, 0, 0}},
        {"cmp byte [rbx+16], 3", [](Asm& a) { a.cmp8_imm(at(rbx, 16), 3); }, {0x80, 0xBB, 16, 0, 0, 0, 3}},
        {"test dword [rax], 0x100", [](Asm& a) { a.test32_imm(at(rax, 0), 0x100); },
         {0xF7, 0x80, 0, 0, 0, 0, 0, 1, 0, 0}},
        {"mov rax, imm64", [](Asm& a) { a.mov_imm64(rax, 0x1122334455667788); },
         {0x48, 0xB8, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11}},
        {"mov r10, 1", [](Asm& a) { a.mov_imm64(r10, 1); }, {0x49, 0xBA, 1, 0, 0, 0, 0, 0, 0, 0}},
        {"mov rbx, rdi", [](Asm& a) { a.mov_rr(rbx, rdi); }, {0x48, 0x89, 0xFB}},
        {"mov r14, rax", [](Asm& a) { a.mov_rr(r14, rax); }, {0x49, 0x89, 0xC6}},
        {"mov eax, ecx", [](Asm& a) { a.mov32_rr(rax, rcx); }, {0x89, 0xC8}},
        {"add rsp, 64", [](Asm& a) { a.add_imm(rsp, 64); }, {0x48, 0x81, 0xC4, 64, 0, 0, 0}},
        {"sub rax, r13", [](Asm& a) { a.sub_rr(rax, r13); }, {0x4C, 0x29, 0xE8}},
        {"sub eax, ecx", [](Asm& a) { a.sub32_rr(rax, rcx); }, {0x29, 0xC8}},
        {"cmp rsp, rcx", [](Asm& a) { a.cmp_rr(rsp, rcx); }, {0x48, 0x39, 0xCC}},
        {"cmp rax, [r12+8]", [](Asm& a) { a.cmp64_mem(rax, at(r12, 8)); }, {0x49, 0x3B, 0x84, 0x24, 8, 0, 0, 0}},
        {"cmp eax, 1", [](Asm& a) { a.cmp32_rimm(rax, 1); }, {0x81, 0xF8, 1, 0, 0, 0}},
        {"test eax, eax", [](Asm& a) { a.test32_rr(rax, rax); }, {0x85, 0xC0}},
        {"and eax, ecx", [](Asm& a) { a.and32_rr(rax, rcx); }, {0x21, 0xC8}},
        {"add eax, 5", [](Asm& a) { a.add32_imm(rax, 5); }, {0x81, 0xC0, 5, 0, 0, 0}},
        {"sub eax, 5", [](Asm& a) { a.sub32_imm(rax, 5); }, {0x81, 0xE8, 5, 0, 0, 0}},
        {"imul ecx, ecx, 3", [](Asm& a) { a.imul32_imm(rcx, 3); }, {0x69, 0xC9, 3, 0, 0, 0}},
        {"add eax, ecx", [](Asm& a) { a.add32_rr(rax, rcx); }, {0x01, 0xC8}},
        {"imul eax, ecx", [](Asm& a) { a.imul32_rr(rax, rcx); }, {0x0F, 0xAF, 0xC1}},
        {"cmp eax, ecx", [](Asm& a) { a.cmp32_rr(rax, rcx); }, {0x39, 0xC8}},
        {"cdq", [](Asm& a) { a.cdq(); }, {0x99}},
        {"idiv ecx", [](Asm& a) { a.idiv32(rcx); }, {0xF7, 0xF9}},
        {"idiv r9d", [](Asm& a) { a.idiv32(r9); }, {0x41, 0xF7, 0xF9}},
        {"setl cl", [](Asm& a) { a.setcc(l, rcx); }, {0x0F, 0x9C, 0xC1}},
        {"movzx ecx, cl", [](Asm& a) { a.movzx8(rcx, rcx); }, {0x0F, 0xB6, 0xC9}},
        {"movdqu xmm0, [rbx]", [](Asm& a) { a.movdqu_load(0, at(rbx, 0)); }, {0xF3, 0x0F, 0x6F, 0x83, 0, 0, 0, 0}},
        {"movdqu [r13+16], xmm1", [](Asm& a) { a.movdqu_store(at(r13, 16), 1); },
         {0xF3, 0x41, 0x0F, 0x7F, 0x8D, 16, 0, 0, 0}},
        {"pand xmm2, xmm1", [](Asm& a) { a.pand(2, 1); }, {0x66, 0x0F, 0xDB, 0xD1}},
        {"pmovmskb eax, xmm2", [](Asm& a) { a.pmovmskb(rax, 2); }, {0x66, 0x0F, 0xD7, 0xC2}},
        {"push rbx", [](Asm& a) { a.push(rbx); }, {0x53}},
        {"push r12", [](Asm& a) { a.push(r12); }, {0x41, 0x54}},
        {"pop r15", [](Asm& a) { a.pop(r15); }, {0x41, 0x5F}},
        {"ret", [](Asm& a) { a.ret(); }, {0xC3}},
        {"call rax (absolute)", [](Asm& a) { a.call_abs(reinterpret_cast<const void*>(0x1000)); },
         {0x48, 0xB8, 0, 0x10, 0, 0, 0, 0, 0, 0, 0xFF, 0xD0}},
    };
    for (const Encoding& row : table) {
        Asm a;
        row.emit(a);
        EXPECT_EQ(a.code, row.bytes) << row.text;
    }
}

// Jumps, calls and pool constants leave a 32-bit field and a record of
// what fills it.
TEST(X86AssemblerTest, RecordsDisplacementsToFix) {
    Asm a;
    const int target = a.label();
    a.jcc(ne, target);
    a.jmp(target);
    a.call_label(target);
    a.bind(target);
    Cell c{};
    c.data1 = 7;
    const int pool_at = a.add_constant(c);
    a.pcmpeqb(1, constant(pool_at));
    const std::vector<std::uint8_t> bytes = {0x0F, 0x85, 0, 0, 0, 0, 0xE9, 0, 0, 0, 0, 0xE8, 0, 0, 0, 0,
                                             0x66, 0x0F, 0x74, 0x0D, 0, 0, 0, 0};
    EXPECT_EQ(a.code, bytes);
    ASSERT_EQ(a.jumps.size(), 3u);
    EXPECT_EQ(a.jumps[0].where, 2);
    EXPECT_EQ(a.jumps[1].where, 7);
    EXPECT_EQ(a.jumps[2].where, 12);
    EXPECT_EQ(a.label_at[target], 16);
    ASSERT_EQ(a.pool_fixes.size(), 1u);
    EXPECT_EQ(a.pool_fixes[0].where, 20);
    EXPECT_EQ(a.pool.size(), 16u);
}

}  // namespace

}  // namespace kiv::native_code
