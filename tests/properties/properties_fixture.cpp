#include "properties_fixture.h"

using namespace qtest;

namespace {

// Reads the XML with the Python standard library, not with any code of the
// program: "leaves" prints path=value lines, "text" the image's element.
const char kReader[] =
    "import subprocess, sys, xml.etree.ElementTree as ET\n"
    "wim, image, mode = sys.argv[1], sys.argv[2], sys.argv[3]\n"
    "raw = subprocess.run(['wimlib-imagex', 'info', wim, '--extract-xml', '/dev/stdout'],\n"
    "                     stdout=subprocess.PIPE, check=True).stdout\n"
    "text = raw.decode('utf-16-le').lstrip('\\ufeff')\n"
    "out = sys.stdout.buffer\n"
    "if mode == 'text':\n"
    "    start = text.index('<IMAGE INDEX=\"%s\"' % image)\n"
    "    out.write(text[start:text.index('</IMAGE>', start) + 8].encode('utf-8'))\n"
    "    sys.exit(0)\n"
    "def walk(node, prefix):\n"
    "    for child in node:\n"
    "        path = prefix + child.tag\n"
    "        if len(child):\n"
    "            walk(child, path + '/')\n"
    "        else:\n"
    "            out.write((path + '=' + (child.text or '') + '\\n').encode('utf-8'))\n"
    "for node in ET.fromstring(text).findall('IMAGE'):\n"
    "    if node.get('INDEX') == image:\n"
    "        walk(node, '')\n";

}  // namespace

void PropertiesTest::SetProperties(const std::wstring& wim, int image, const std::vector<std::string>& properties) {
  std::string command = "wimlib-imagex info " + ShQuote(UnixPath(wim)) + " " + std::to_string(image);
  for (const std::string& p : properties) command += " --image-property " + ShQuote(p);
  UnixResult r = RunUnix(command);
  ASSERT_EQ(r.exitCode, 0) << r.output;
}

std::string PropertiesTest::RunReader(const std::wstring& wim, int image, const char* mode) {
  std::wstring script = dir_ + L"\\read_xml.py";
  EXPECT_TRUE(WriteFileBytes(script, kReader));
  UnixResult r = RunUnix("python3 " + ShQuote(UnixPath(script)) + " " + ShQuote(UnixPath(wim)) + " " +
                         std::to_string(image) + " " + mode + " 2>/dev/null");
  EXPECT_EQ(r.exitCode, 0) << r.output;
  return r.output;
}

std::vector<std::string> PropertiesTest::Leaves(const std::wstring& wim, int image) {
  std::string text = RunReader(wim, image, "leaves");
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end = text.find('\n'); end != std::string::npos; start = end + 1, end = text.find('\n', start))
    lines.push_back(text.substr(start, end - start));
  return lines;
}

std::string PropertiesTest::ImageText(const std::wstring& wim, int image) { return RunReader(wim, image, "text"); }

std::vector<std::string> Without(const std::vector<std::string>& lines, const std::vector<std::string>& paths) {
  std::vector<std::string> out;
  for (const std::string& line : lines) {
    std::string path = line.substr(0, line.find('='));
    bool edited = false;
    for (const std::string& p : paths) edited = edited || p == path;
    if (!edited) out.push_back(line);
  }
  return out;
}

std::vector<std::string> ValuesOf(const std::vector<std::string>& lines, const std::string& path) {
  std::vector<std::string> out;
  for (const std::string& line : lines)
    if (line.compare(0, path.size() + 1, path + "=") == 0) out.push_back(line.substr(path.size() + 1));
  return out;
}
