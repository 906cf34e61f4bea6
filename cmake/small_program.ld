/* Section layout of the setup and uninstall programs, in place of the
   linker's default script. Every section is padded to the file alignment
   (512 bytes) in the file and takes a header of its own, and these
   programs are small enough for that to count: the read-only data shares
   the code's section, and the initialised data follows the import tables
   in theirs (both are written to; the import directory starts at that
   section's start, where the import descriptors are). Left: .text, .idata,
   .bss and .rsrc, and .pdata/.xdata in 64-bit builds. Nothing here runs
   constructors or uses thread-local data (the programs have no C runtime
   start-up code), so those lists are not laid out; a section this script
   does not place still gets one of its own, which the size budget shows. */
SECTIONS
{
  . = SIZEOF_HEADERS;
  . = ALIGN(__section_alignment__);
  .text __image_base__ + (__section_alignment__ < 0x1000 ? . : __section_alignment__) :
  {
    *(.text)
    *(SORT(.text$*))
    *(.text.*)
    *(.rdata)
    *(SORT(.rdata$*))
  }
  .idata BLOCK(__section_alignment__) :
  {
    /* The import tables, in the order the linker's import handling needs. */
    KEEP (SORT(*)(.idata$2))
    KEEP (SORT(*)(.idata$3))
    /* These zeroes mark the end of the import list. */
    LONG (0); LONG (0); LONG (0); LONG (0); LONG (0);
    KEEP (SORT(*)(.idata$4))
    __IAT_start__ = .;
    KEEP (SORT(*)(.idata$5))
    __IAT_end__ = .;
    KEEP (SORT(*)(.idata$6))
    KEEP (SORT(*)(.idata$7))
    . = ALIGN(16);
    *(.data)
    *(.data2)
    *(SORT(.data$*))
  }
  .pdata BLOCK(__section_alignment__) :
  {
    KEEP (*(.pdata*))
  }
  .xdata BLOCK(__section_alignment__) :
  {
    KEEP (*(.xdata*))
  }
  .bss BLOCK(__section_alignment__) :
  {
    *(.bss)
    *(COMMON)
  }
  .rsrc BLOCK(__section_alignment__) : SUBALIGN(4)
  {
    KEEP (*(.rsrc))
    KEEP (*(.rsrc$*))
  }
  /DISCARD/ :
  {
    *(.drectve)
    *(.note.GNU-stack)
    *(.gnu.lto_*)
  }
}
