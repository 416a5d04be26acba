// The image information XML of a WIM file, handled as UTF-16 text with plain
// string searches, never with an XML parser:
//  - the display form that the pages show ("><" broken into lines, the text
//    cut after "</WIM>");
//  - the look-up of one element's text inside one image;
//  - the rewrite of an image's editable elements that a WIMGAPI write sends
//    back to the library.
// Values are text to the user: they are escaped ("&", "<", ">") when they
// go into the XML and decoded when they are looked up, so what the user
// typed is what the user sees again.
#pragma once
#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/image_info.h"

// "<IMAGE INDEX=\"n\"": the start of image n's element.
std::wstring ImageElementStart(int index);

// UTF-16LE bytes as text, up to the first zero unit (an odd last byte is
// dropped).
std::wstring XmlTextFromBytes(const void* data, size_t byteCount);

// Every "><" becomes ">\r\n<" and the text ends after the first "</WIM>".
// Text without "</WIM>" is kept whole.
std::wstring XmlDisplayForm(const std::wstring& raw);

// The text of the element that openTag (such as "<NAME>") starts inside image
// `index`, up to the next "<", with its entities and character references
// decoded; empty when the image or the element does not exist (an element
// of a later image is never taken).
std::wstring GetImageXmlValue(const std::wstring& xml, int index, const std::wstring& openTag);

// The XML text of one file prepared once for many look-ups: the text
// without "\r", and where each image's element lies, found in one pass.
// A look-up then reads only that image's part of the text, so listing every
// image of a file costs about one pass over its XML, however many images
// and however long the text. Value() answers as GetImageXmlValue does on the
// text it was made from; an image's part ends at its "</IMAGE>" or at the
// next image element, whichever comes first.
class ImageXml {
 public:
  ImageXml() = default;
  explicit ImageXml(const std::wstring& xml);

  std::wstring Value(int index, const std::wstring& openTag) const;
  // The properties of image `index`, as ReadImageProperties gives them.
  std::vector<ImageProperty> Properties(int index) const;
  // Whether the text has an element for image `index`.
  bool HasImage(int index) const { return images_.count(index) != 0; }

 private:
  struct Span {
    size_t begin;  // just after "<IMAGE INDEX=\"n\""
    size_t end;    // the image's "</IMAGE>", or npos when it has none
    size_t limit;  // where a look-up stops: end, or the next image element
  };
  std::wstring text_;
  std::unordered_map<int, Span> images_;  // the first element of each index
};

// "&", "<" and ">" as "&amp;", "&lt;" and "&gt;".
std::wstring EscapeXmlText(const std::wstring& text);
// The predefined entities (amp, lt, gt, quot, apos) and character
// references ("&#65;", "&#x41;") decoded; any other "&" stays as it is.
std::wstring DecodeXmlText(const std::wstring& text);

// The elements written for an ImageInfo, each "\n<TAG>text</TAG>" for a
// non-empty field in the order NAME, DESCRIPTION, DISPLAYNAME,
// DISPLAYDESCRIPTION, FLAGS, then one "\n"; the texts are escaped.
std::wstring ImageInfoFragment(const ImageInfo& info);

// Removes the five editable elements from image `index` of the text and puts
// ImageInfoFragment(info) right before that image's "</IMAGE>". Returns false
// and leaves the text alone when the image has no complete element.
bool RewriteImageXml(std::wstring& xml, int index, const ImageInfo& info);

// Every property of an image (ImageProperty and PropertyChange are in
// engine/image_info.h)
// The properties of image `index` in document order (empty when the image
// has no complete element). The display form's line breaks between tags
// are no text: an element "<A>\r\n</A>" is empty.
std::vector<ImageProperty> ReadImageProperties(const std::wstring& xml, int index);

// What turns the properties `before` into `after`. Paths whose values are
// the same, in the same order, give nothing, so an untouched element is
// never written; of a path that changed, an empty value in `after` is an
// element to remove. Changes of one path come as sets of existing
// occurrences, then additions in rising order, then removals from the last
// occurrence down, so that they can be applied one after another.
std::vector<PropertyChange> PropertyChanges(const std::vector<ImageProperty>& before,
                                            const std::vector<ImageProperty>& after);

// The name wimlib's image property calls take: the path, with "[n]" for an
// occurrence after the first.
std::wstring PropertyName(const PropertyChange& change);

// Applies the changes to image `index` of the text: only the text of the
// changed elements is replaced, a removed element is cut out whole, an
// added one goes after the last element of its path or before the closing
// tag of its nearest parent (before "</IMAGE>" when it has none). Nothing
// else of the text moves. Returns false and leaves the text as it was
// when a change names an element that holds other elements, an occurrence
// that neither exists nor follows the last one, or the image has no
// complete element.
bool ApplyPropertyChanges(std::wstring& xml, int index, const std::vector<PropertyChange>& changes);

// Whether `path` may name a property: names of letters, digits, "_", "-"
// and "." joined by single "/", not starting with a digit, "-" or ".".
bool ValidPropertyPath(const std::wstring& path);

// Whether a value reads as not defined: empty or blank, or "<undefined>".
bool UndefinedValue(const std::wstring& value);

// The name of a WINDOWS/ARCH number: "x86" (0), "ARM" (5), "x64" (9),
// "ARM64" (12); empty for any other text.
std::wstring ArchitectureName(const std::wstring& number);
