// The export table of a DLL that lld links. lld 14 makes the table of a .def
// start at ordinal 0 with an empty entry (three entries for two exports);
// GNU ld starts at the first ordinal. This is quillshell.def's table written
// out, which lld takes in place of making one: DllCanUnloadNow @1 and
// DllGetClassObject @2 under the DLL's own name.
    .section .edata,"dr"
    .p2align 2
    .long 0                    // Characteristics
    .long 0                    // TimeDateStamp: none, as --no-insert-timestamp
    .short 0, 0                // MajorVersion, MinorVersion
    .rva dll_name              // Name
    .long 1                    // Base: the first ordinal
    .long 2                    // NumberOfFunctions
    .long 2                    // NumberOfNames
    .rva functions             // AddressOfFunctions
    .rva names                 // AddressOfNames
    .rva name_ordinals         // AddressOfNameOrdinals
functions:
    .rva DllCanUnloadNow       // @1
    .rva DllGetClassObject     // @2
names:                         // in byte order: the loader searches them by halves
    .rva name_1
    .rva name_2
name_ordinals:                 // each name's ordinal minus the base
    .short 0, 1
dll_name:
#ifdef QUILLSHELL_MODERN
    .asciz "quillshell-modern.dll"
#else
    .asciz "quillshell.dll"
#endif
name_1:
    .asciz "DllCanUnloadNow"
name_2:
    .asciz "DllGetClassObject"
