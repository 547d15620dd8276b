// The C and C++ runtime of dunmore.exe, over KERNEL32 alone.
//
// The program is one file for every Windows 95 and 98 machine. The C runtime
// DLLs are not on all of them (msvcrt.dll is missing from the first Windows
// 95 releases), so the executable carries the little it uses: the start of
// the process, the heap, the string functions, formatted output to a buffer
// and to the console, the calendar clock and the console keys. The C++ side
// (operator new, the one thrown message) is the compiler's own static support
// library over these. The names are the ones the toolchain's C headers call;
// the executable is linked without any other C library, so a function the
// system starts to use and this file lacks stops the link.
//
// Every Win32 function called here is one that Windows 95 exports as a
// working ANSI or neutral entry point (tests/wine/check-imports holds the
// executable's imports against that list).
#include <windows.h>

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "win32/text_format.h"

// The entry points are defined with C linkage under the names the headers
// declare; the headers themselves are not included, since some of them
// declare these functions as imported from a DLL.
extern "C" {
void* malloc(size_t bytes);
void free(void* block);
void* calloc(size_t count, size_t bytes);
void* realloc(void* block, size_t bytes);
void abort(void);
int atexit(void (*handler)(void));
void* memcpy(void* destination, const void* source, size_t bytes);
void* memmove(void* destination, const void* source, size_t bytes);
void* memset(void* destination, int value, size_t bytes);
int memcmp(const void* a, const void* b, size_t bytes);
size_t strlen(const char* text);
char* strchr(const char* text, int c);
int strcmp(const char* a, const char* b);
int strncmp(const char* a, const char* b, size_t count);
char* strcpy(char* destination, const char* source);
char* strncpy(char* destination, const char* source, size_t count);
char* strstr(const char* text, const char* part);
int puts(const char* text);
}

namespace {

// ---- The process.

// atexit handlers, run last registered first. The compiler registers one for
// the static destructors; 32 is what the C standard promises.
const int kMaxExitHandlers = 32;
void (*exitHandlers[kMaxExitHandlers])(void);
int exitHandlerCount = 0;

// The exit code of a process ended by abort, as the Windows C runtimes give.
const UINT kAbortExitCode = 3;

[[noreturn]] void ExitWith(int code) {
  while (exitHandlerCount > 0) exitHandlers[--exitHandlerCount]();
  ExitProcess(static_cast<UINT>(code));
  for (;;) {
  }
}

// ---- Standard input, output and error, as the headers' FILE records.

// The headers reach the three streams through __acrt_iob_func(0, 1 or 2) and
// pass them back as pointers; nothing else of a FILE is read by the system.
struct Stream {
  DWORD standardHandle;
};
Stream streams[3] = {{STD_INPUT_HANDLE}, {STD_OUTPUT_HANDLE}, {STD_ERROR_HANDLE}};

// Writes through the stream's standard handle in text mode: each line feed
// goes out as carriage return and line feed, as the Windows C runtimes
// write text. Output is unbuffered, so it is in order with the console
// calls that place the cursor. Returns 0 when everything was written.
int WriteStream(Stream* stream, const char* text, size_t length) {
  HANDLE handle = GetStdHandle(stream->standardHandle);
  char chunk[512];
  DWORD used = 0;
  int result = 0;
  for (size_t i = 0; i <= length; ++i) {
    if (i == length || used + 2 > sizeof chunk) {
      DWORD written = 0;
      if (used != 0 && (!WriteFile(handle, chunk, used, &written, nullptr) || written != used)) {
        result = -1;
      }
      used = 0;
      if (i == length) break;
    }
    if (text[i] == '\n') chunk[used++] = '\r';
    chunk[used++] = text[i];
  }
  return result;
}

Stream* StreamAt(unsigned index) {
  return index < 3 ? &streams[index] : nullptr;
}

int FormatToStream(Stream* stream, const char* format, va_list args) {
  char local[512];
  int length = FormatText(local, sizeof local, format, args);
  if (length < 0) return -1;
  char* text = local;
  if (static_cast<size_t>(length) >= sizeof local) {
    text = static_cast<char*>(malloc(static_cast<size_t>(length) + 1));
    if (text == nullptr) return -1;
    FormatText(text, static_cast<size_t>(length) + 1, format, args);
  }
  int result = WriteStream(stream, text, static_cast<size_t>(length));
  if (text != local) free(text);
  return result == 0 ? length : -1;
}

// ---- The console keys.

// A key without a character arrives as two codes: a lead (0, or 0xE0 for
// the keys of the grey cursor block and F11/F12) and then the key's code.
const int kGreyKeyLead = 0xE0;
const int kF11Code = 133;  // F11 and F12 have these codes after the lead
const int kF12Code = 134;
const int kEsc = 27;
int pendingCode = -1;

bool IsModifierKey(WORD virtualKey) {
  return virtualKey == VK_SHIFT || virtualKey == VK_CONTROL || virtualKey == VK_MENU ||
         virtualKey == VK_CAPITAL || virtualKey == VK_NUMLOCK || virtualKey == VK_SCROLL;
}

// One key from the console, unechoed. Without a console to read, the input
// has ended: that reads as Esc, the key that ends every wait.
int ReadKey() {
  if (pendingCode >= 0) {
    int code = pendingCode;
    pendingCode = -1;
    return code;
  }
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  for (;;) {
    INPUT_RECORD record;
    DWORD read = 0;
    if (!ReadConsoleInputA(input, &record, 1, &read)) return kEsc;
    if (read != 1 || record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) continue;
    const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
    unsigned char character = static_cast<unsigned char>(key.uChar.AsciiChar);
    if (character != 0) return character;
    if (IsModifierKey(key.wVirtualKeyCode)) continue;
    if (key.wVirtualKeyCode == VK_F11 || key.wVirtualKeyCode == VK_F12) {
      pendingCode = key.wVirtualKeyCode == VK_F11 ? kF11Code : kF12Code;
      return kGreyKeyLead;
    }
    pendingCode = key.wVirtualScanCode;
    return (key.dwControlKeyState & ENHANCED_KEY) != 0 ? kGreyKeyLead : 0;
  }
}

int PutConsoleChar(int character) {
  char byte = static_cast<char>(character);
  DWORD written = 0;
  if (!WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), &byte, 1, &written, nullptr) || written != 1) {
    return -1;
  }
  return static_cast<unsigned char>(byte);
}

// ---- The calendar clock.

// FILETIME counts 100 ns steps from 1601; the C clock counts seconds from
// 1970, 11,644,473,600 seconds later.
const uint64_t kFileTimeTicksPerSecond = 10000000u;
const uint64_t kFileTimeAt1970 = 11644473600ull * kFileTimeTicksPerSecond;

int32_t SecondsSince1970(int32_t* result) {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  int32_t seconds = static_cast<int32_t>((ticks - kFileTimeAt1970) / kFileTimeTicksPerSecond);
  if (result != nullptr) *result = seconds;
  return seconds;
}

int UpperCase(int c) {
  return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c;
}

[[noreturn]] void Terminate() {
  ExitProcess(kAbortExitCode);
  for (;;) {
  }
}

}  // namespace

// ---- The start of the process.

// The program's main. It runs the static constructors itself (__main),
// among them crtend.o's, which makes the unwind tables known to the unwinder
// that carries the thrown message to its catch.
int ProgramMain() __asm__("_main");

// Windows gives the entry point a stack aligned to 4 bytes only.
extern "C" __attribute__((force_align_arg_pointer)) void mainCRTStartup(void) {
  ExitWith(ProgramMain());
}

// The C++ support library ends the process through std::terminate when a
// thrown object finds no catch. Its default handler would print the type's
// demangled name through the whole of C stdio; this one ends the process as
// abort does.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
  Terminate();
}
}  // namespace __gnu_cxx

// The compiler's thread support asks whether other threads may run (this
// flag, which the mingw C runtime sets for a multi-threaded program) and,
// only then, registers thread-local destructors. dunmore has one thread: its
// exception and thread-local data take the single-threaded paths, which
// create no semaphores.
extern "C" {
int _CRT_MT = 0;
}
extern "C" int __mingwthr_key_dtor(DWORD, void (*)(void*)) {
  return 0;
}

// The compiler's thread mutexes (pulled in by the C++ support library and
// the unwinder, used only when _CRT_MT says other threads run) create their
// semaphores with CreateSemaphoreW, which Windows 95 exports as a stub that
// fails. Their import slot holds this function instead: the ANSI call, with
// the name, if any, converted.
HANDLE WINAPI CreateSemaphoreAnsi(LPSECURITY_ATTRIBUTES attributes, LONG initialCount,
                                  LONG maximumCount, LPCWSTR name) {
  char ansiName[MAX_PATH];
  if (name != nullptr &&
      WideCharToMultiByte(CP_ACP, 0, name, -1, ansiName, sizeof ansiName, nullptr, nullptr) == 0) {
    return nullptr;
  }
  return CreateSemaphoreA(attributes, initialCount, maximumCount,
                          name != nullptr ? ansiName : nullptr);
}
extern void* const createSemaphoreWSlot __asm__("__imp__CreateSemaphoreW@16");
void* const createSemaphoreWSlot = reinterpret_cast<void*>(&CreateSemaphoreAnsi);

// ---- The C library.

void abort(void) {
  Terminate();
}

int atexit(void (*handler)(void)) {
  if (exitHandlerCount == kMaxExitHandlers) return -1;
  exitHandlers[exitHandlerCount++] = handler;
  return 0;
}

void* malloc(size_t bytes) {
  return HeapAlloc(GetProcessHeap(), 0, bytes != 0 ? bytes : 1);
}

void free(void* block) {
  if (block != nullptr) HeapFree(GetProcessHeap(), 0, block);
}

void* calloc(size_t count, size_t bytes) {
  if (bytes != 0 && count > SIZE_MAX / bytes) return nullptr;
  size_t total = count * bytes;
  return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, total != 0 ? total : 1);
}

void* realloc(void* block, size_t bytes) {
  if (block == nullptr) return malloc(bytes);
  if (bytes == 0) {
    free(block);
    return nullptr;
  }
  return HeapReAlloc(GetProcessHeap(), 0, block, bytes);
}

void* memcpy(void* destination, const void* source, size_t bytes) {
  unsigned char* to = static_cast<unsigned char*>(destination);
  const unsigned char* from = static_cast<const unsigned char*>(source);
  for (size_t i = 0; i < bytes; ++i) to[i] = from[i];
  return destination;
}

void* memmove(void* destination, const void* source, size_t bytes) {
  unsigned char* to = static_cast<unsigned char*>(destination);
  const unsigned char* from = static_cast<const unsigned char*>(source);
  if (to < from) {
    for (size_t i = 0; i < bytes; ++i) to[i] = from[i];
  } else {
    for (size_t i = bytes; i > 0; --i) to[i - 1] = from[i - 1];
  }
  return destination;
}

void* memset(void* destination, int value, size_t bytes) {
  unsigned char* to = static_cast<unsigned char*>(destination);
  for (size_t i = 0; i < bytes; ++i) to[i] = static_cast<unsigned char>(value);
  return destination;
}

int memcmp(const void* a, const void* b, size_t bytes) {
  const unsigned char* x = static_cast<const unsigned char*>(a);
  const unsigned char* y = static_cast<const unsigned char*>(b);
  for (size_t i = 0; i < bytes; ++i) {
    if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
  }
  return 0;
}

size_t strlen(const char* text) {
  size_t length = 0;
  while (text[length] != '\0') ++length;
  return length;
}

char* strchr(const char* text, int c) {
  for (;; ++text) {
    if (*text == static_cast<char>(c)) return const_cast<char*>(text);
    if (*text == '\0') return nullptr;
  }
}

int strcmp(const char* a, const char* b) {
  return strncmp(a, b, SIZE_MAX);
}

int strncmp(const char* a, const char* b, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x != y) return x < y ? -1 : 1;
    if (x == '\0') return 0;
  }
  return 0;
}

char* strcpy(char* destination, const char* source) {
  size_t i = 0;
  do {
    destination[i] = source[i];
  } while (source[i++] != '\0');
  return destination;
}

char* strncpy(char* destination, const char* source, size_t count) {
  size_t i = 0;
  for (; i < count && source[i] != '\0'; ++i) destination[i] = source[i];
  for (; i < count; ++i) destination[i] = '\0';
  return destination;
}

char* strstr(const char* text, const char* part) {
  size_t partLength = strlen(part);
  for (;; ++text) {
    if (strncmp(text, part, partLength) == 0) return const_cast<char*>(text);
    if (*text == '\0') return nullptr;
  }
}

int puts(const char* text) {
  return WriteStream(&streams[1], text, strlen(text)) == 0 && WriteStream(&streams[1], "\n", 1) == 0
             ? 0
             : -1;
}

// The headers' printf and snprintf are inline functions over these.
extern "C" int __mingw_vsnprintf(char* out, size_t size, const char* format, va_list args) {
  return FormatText(out, size, format, args);
}

extern "C" int __mingw_vfprintf(Stream* stream, const char* format, va_list args) {
  return FormatToStream(stream, format, args);
}

// Output is unbuffered: there is never anything to flush.
extern "C" int fflush(Stream*) {
  return 0;
}

// The headers declare these as imported from the C runtime DLL: the calls go
// through an import slot, which the program fills with its own functions.
extern void* const acrtIobFuncSlot __asm__("__imp____acrt_iob_func");
extern void* const getchSlot __asm__("__imp___getch");
extern void* const putchSlot __asm__("__imp___putch");
extern void* const time32Slot __asm__("__imp___time32");
extern void* const toupperSlot __asm__("__imp__toupper");
void* const acrtIobFuncSlot = reinterpret_cast<void*>(&StreamAt);
void* const getchSlot = reinterpret_cast<void*>(&ReadKey);
void* const putchSlot = reinterpret_cast<void*>(&PutConsoleChar);
void* const time32Slot = reinterpret_cast<void*>(&SecondsSince1970);
void* const toupperSlot = reinterpret_cast<void*>(&UpperCase);
