/* Section layout of the 32-bit loader: code, constants and import tables in one read-only,
   executable section, so that the file pays the 512-byte alignment once instead of three
   times; the writable globals and the resources and relocations apart, as Windows needs them.
   The program has no constructors, thread-local data, unwinding tables or exports, and is
   started at its own entry point, so nothing of the compiler's start-up sections is kept.
   Windows and Wine make the import address table writable themselves while they fill it. */
OUTPUT_FORMAT(pei-i386)
SECTIONS
{
  . = SIZEOF_HEADERS;
  . = ALIGN(__section_alignment__);
  .text __image_base__ + __section_alignment__ :
  {
    *(.text) *(SORT(.text$*)) *(.text.*)
    *(.rdata) *(SORT(.rdata$*)) *(.rodata) *(.rodata.*)
    /* The linker takes the places and sizes of the import directory and the import address
       table from these four names, which it reads as image-relative addresses. */
    ".idata$2" = . - __image_base__;
    KEEP (SORT(*)(.idata$2))
    KEEP (SORT(*)(.idata$3))
    /* The empty entry that ends the import directory. */
    LONG (0); LONG (0); LONG (0); LONG (0); LONG (0);
    ".idata$4" = . - __image_base__;
    KEEP (SORT(*)(.idata$4))
    __IAT_start__ = .;
    ".idata$5" = . - __image_base__;
    KEEP (SORT(*)(.idata$5))
    __IAT_end__ = .;
    ".idata$6" = . - __image_base__;
    KEEP (SORT(*)(.idata$6))
    KEEP (SORT(*)(.idata$7))
  }
  .data BLOCK(__section_alignment__) :
  {
    *(.data) *(.data2) *(SORT(.data$*))
  }
  .bss BLOCK(__section_alignment__) :
  {
    *(.bss) *(COMMON)
  }
  /DISCARD/ :
  {
    *(.debug$S) *(.debug$T) *(.debug$F) *(.drectve) *(.note.GNU-stack) *(.gnu.lto_*)
    *(.eh_frame*) *(.CRT$*) *(.tls*) *(.ctors*) *(.dtors*) *(.edata)
  }
  .rsrc BLOCK(__section_alignment__) : SUBALIGN(4)
  {
    KEEP (*(.rsrc)) KEEP (*(SORT(.rsrc$*)))
  }
  .reloc BLOCK(__section_alignment__) :
  {
    *(.reloc)
  }
}
