// Windows-1252, the code page that a value which is not UTF-8 is read in:
// the one that Windows in Western Europe and the Americas writes.
#ifndef QSOFLAT_TEXT_WINDOWS1252_H_
#define QSOFLAT_TEXT_WINDOWS1252_H_

namespace qsoflat {

// The character that Windows-1252 gives the byte. The five bytes that it
// leaves undefined stand for the C1 controls of their value, as Windows
// reads them, so that every byte is some character.
char32_t windows1252_char(unsigned char byte);

}  // namespace qsoflat

#endif  // QSOFLAT_TEXT_WINDOWS1252_H_
