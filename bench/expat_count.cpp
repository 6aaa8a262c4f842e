// The floor of GPX import: a bare expat parse of a file that only counts
// its elements, read in blocks of the size the GPX reader uses.
//   roamgrid_expat_count FILE
#include <expat.h>

#include <cstdio>

namespace {

void XMLCALL CountElement(void* data, const XML_Char*, const XML_Char**) {
  ++*static_cast<long long*>(data);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: roamgrid_expat_count FILE\n");
    return 2;
  }
  std::FILE* file = std::fopen(argv[1], "rb");
  if (!file) {
    std::perror(argv[1]);
    return 1;
  }
  long long elements = 0;
  XML_Parser parser = XML_ParserCreate(nullptr);
  XML_SetUserData(parser, &elements);
  XML_SetStartElementHandler(parser, CountElement);
  constexpr int kBlock = 64 << 10;
  bool ok = true;
  for (bool atEnd = false; ok && !atEnd;) {
    void* buffer = XML_GetBuffer(parser, kBlock);
    const size_t got = std::fread(buffer, 1, kBlock, file);
    atEnd = got < size_t(kBlock);
    ok = XML_ParseBuffer(parser, int(got), atEnd) == XML_STATUS_OK;
  }
  XML_ParserFree(parser);
  std::fclose(file);
  std::printf("%lld elements\n", elements);
  return ok ? 0 : 1;
}
