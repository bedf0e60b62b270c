// uint32_t vv_call_entry(const void *entry, const uint32_t *args, uint32_t count, uint32_t misalign)
//
// Calls entry(args[0], ..., args[count - 1]) with the stack pointer at the
// call instruction equal to `misalign` modulo 16, the way a host whose
// compiler keeps only 4-byte (or full 16-byte) stack alignment calls. The
// callee-saved registers are loaded with marks first; what the callee left in
// them, the stack pointer after the return and the flags are stored in
// vv_entry_report so the caller can check the module kept the convention.
// Not reentrant: the module never calls back into an entry point.
        .text
        .globl  vv_call_entry
        .type   vv_call_entry, @function
vv_call_entry:
        pushl   %ebp
        movl    %esp, %ebp
        pushl   %ebx
        pushl   %esi
        pushl   %edi
        movl    16(%ebp), %ecx          // count
        movl    12(%ebp), %esi          // args
        leal    -64(%esp), %eax
        leal    (,%ecx,4), %edx
        subl    %edx, %eax
        andl    $-16, %eax
        addl    20(%ebp), %eax          // the stack pointer at the call
        movl    %eax, %esp
        movl    %eax, %edi
        cld
        rep movsl
        movl    %esp, vv_entry_report+4
        movl    %ebp, vv_saved_ebp
        movl    8(%ebp), %eax
        movl    $0x0b0b0b0b, %ebx
        movl    $0x05050505, %esi
        movl    $0x0d0d0d0d, %edi
        movl    $0x0e0e0e0e, %ebp
        call    *%eax
        movl    %esp, vv_entry_report+0
        movl    %ebx, vv_entry_report+8
        movl    %esi, vv_entry_report+12
        movl    %edi, vv_entry_report+16
        movl    %ebp, vv_entry_report+20
        movl    vv_saved_ebp, %ebp
        pushfl
        popl    vv_entry_report+24
        fnstenv vv_entry_report+28      // the x87 tag word tells whether the callee left values on its stack
        fldenv  vv_entry_report+28      // fnstenv masks every x87 exception; put the control word back
        leal    -12(%ebp), %esp
        popl    %edi
        popl    %esi
        popl    %ebx
        popl    %ebp
        ret
        .size   vv_call_entry, .-vv_call_entry

        .bss
        .align  16
        .globl  vv_entry_report
vv_entry_report:
        .zero   64
vv_saved_ebp:
        .zero   4
        .section .note.GNU-stack,"",@progbits
