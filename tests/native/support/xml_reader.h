#pragma once

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// Just enough XML for the administrative templates: elements, attributes,
// text and the five predefined entities; the declaration and comments are
// skipped. Anything else is malformed here and throws.
struct XmlElement {
  std::string name;
  std::map<std::string, std::string> attributes;
  std::string text;  // the element's own text, its children's left out
  std::vector<XmlElement> children;

  std::string Attribute(const std::string& key) const {
    const auto found = attributes.find(key);
    return found == attributes.end() ? std::string() : found->second;
  }
  // Every element of that name below this one, at any depth, in order.
  std::vector<const XmlElement*> All(const std::string& tag) const {
    std::vector<const XmlElement*> found;
    for (const XmlElement& child : children) {
      if (child.name == tag) found.push_back(&child);
      const auto below = child.All(tag);
      found.insert(found.end(), below.begin(), below.end());
    }
    return found;
  }
};

class XmlReader {
 public:
  static XmlElement ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw std::runtime_error("cannot open " + path);
    std::stringstream contents;
    contents << file.rdbuf();
    const std::string text = contents.str();
    XmlReader reader{text};
    reader.SkipMarkup();
    XmlElement root = reader.Element();
    reader.SkipMarkup();
    if (reader.at_ != text.size()) throw std::runtime_error(path + ": text after the root element");
    return root;
  }

 private:
  explicit XmlReader(std::string_view in) : in_(in) {}

  std::size_t Find(std::string_view what) const {
    const std::size_t found = in_.find(what, at_);
    if (found == std::string_view::npos) throw std::runtime_error("XML ends before " + std::string(what));
    return found;
  }
  void SkipSpace() { at_ = std::min(in_.size(), in_.find_first_not_of(" \t\r\n", at_)); }
  void Expect(std::string_view what) {
    if (in_.substr(at_, what.size()) != what) throw std::runtime_error("XML: expected " + std::string(what));
    at_ += what.size();
  }
  // Blanks, the declaration and comments.
  void SkipMarkup() {
    for (SkipSpace(); in_.substr(at_, 2) == "<?" || in_.substr(at_, 4) == "<!--"; SkipSpace()) {
      at_ = in_.substr(at_, 2) == "<?" ? Find("?>") + 2 : Find("-->") + 3;
    }
  }
  std::string Name() {
    const std::size_t end = std::min(in_.size(), in_.find_first_of(" \t\r\n=/>", at_));
    if (end == at_) throw std::runtime_error("XML: a name expected");
    const std::size_t start = at_;
    at_ = end;
    return std::string(in_.substr(start, end - start));
  }
  static std::string Unescape(std::string_view text) {
    static const std::map<std::string_view, char> kEntities{
        {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
      const std::size_t end = text.find(';', i);
      const auto entity = text[i] == '&' && end != std::string_view::npos
                              ? kEntities.find(text.substr(i + 1, end - i - 1))
                              : kEntities.end();
      if (text[i] == '&' && entity == kEntities.end()) throw std::runtime_error("XML: unknown entity");
      out += text[i] == '&' ? entity->second : text[i];
      if (text[i] == '&') i = end;
    }
    return out;
  }
  XmlElement Element() {
    XmlElement element;
    Expect("<");
    element.name = Name();
    for (SkipSpace(); in_.substr(at_, 1) != ">"; SkipSpace()) {
      if (in_.substr(at_, 2) == "/>") {
        at_ += 2;
        return element;
      }
      const std::string key = Name();
      Expect("=");
      const std::string quote(1, in_.substr(at_, 1) == "'" ? '\'' : '"');
      Expect(quote);
      const std::size_t end = Find(quote);
      element.attributes[key] = Unescape(in_.substr(at_, end - at_));
      at_ = end + 1;
    }
    for (++at_;;) {
      const std::size_t tag = Find("<");
      element.text += Unescape(in_.substr(at_, tag - at_));
      at_ = tag;
      if (in_.substr(at_, 4) == "<!--") {
        at_ = Find("-->") + 3;
      } else if (in_.substr(at_, 2) == "</") {
        at_ += 2;
        if (Name() != element.name) throw std::runtime_error("XML: </" + element.name + "> expected");
        Expect(">");
        return element;
      } else {
        element.children.push_back(Element());
      }
    }
  }

  std::string_view in_;
  std::size_t at_ = 0;
};
