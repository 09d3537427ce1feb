// The window module's bytes, placed in the program's read-only data by the assembler: the program
// stays one file that opens its window wherever it is copied. The build names the module's file
// (AB_MODULO_DA_JANELA) and rebuilds this file when the module changes.
__asm__(
    ".pushsection .rodata.ab_janela,\"a\",@progbits\n"
    ".balign 64\n"
    ".globl ab_janela_inicio\n"
    ".hidden ab_janela_inicio\n"
    "ab_janela_inicio:\n"
    ".incbin \"" AB_MODULO_DA_JANELA
    "\"\n"
    ".Lab_janela_fim:\n"
    ".balign 8\n"
    ".globl ab_janela_tamanho\n"
    ".hidden ab_janela_tamanho\n"
    "ab_janela_tamanho:\n"
    ".quad .Lab_janela_fim - ab_janela_inicio\n"
    ".popsection\n");
