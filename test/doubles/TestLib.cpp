// A library for the dynamic loader tests to open. Plain C symbols only, so
// the loader can unload it once every handle is closed.

extern "C" int wrapkinTestAnswer() { return 42; }

#if defined(__ELF__)
// Defined at address 0: dlsym finds it and returns null without an error.
__asm__(".globl wrapkinNullSymbol\n.set wrapkinNullSymbol, 0");
#endif
