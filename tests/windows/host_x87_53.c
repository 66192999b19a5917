/* lua.exe started the way Windows starts a thread of a host built with
 * another compiler: the x87 unit at 53-bit precision rather than the 64 bits
 * that mingw's startup code sets. The C runtime's pow still runs on the x87
 * unit, so the frames are compared under both settings. */
int luaMain(int argc, char **argv);

int main(int argc, char **argv) {
  unsigned short controlWord = 0x27F;
  __asm__ volatile("fldcw %0" : : "m"(controlWord));
  return luaMain(argc, argv);
}
