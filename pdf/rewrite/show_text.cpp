#include "pdf/rewrite/show_text.h"

#include <cmath>
#include <utility>

#include "base/byte_classes.h"
#include "pdf/syntax/lexer.h"

namespace quillane {

namespace {

// A fill colour lighter than this (0 black, 1 white) is taken for one that
// hides text on a white or light gray page.
constexpr double kLightest = 0.5;

// The operands of `operation`, each read as a direct object.
std::vector<PdfObject> Operands(const ContentOperation& operation) {
  std::vector<PdfObject> operands;
  const std::size_t end = operation.Bytes.size() - operation.Operator.size();
  Lexer lexer(operation.Bytes);
  while (lexer.Position() < end) {
    std::optional<PdfObject> operand = ReadObject(lexer, false);
    if (!operand) break;
    operands.push_back(std::move(*operand));
  }
  return operands;
}

double NumberOf(const PdfObject& object, double fallback) {
  return object.NumberValue().value_or(fallback);
}

// The bytes a string token stands for (ISO 32000-1, 7.3.4): a literal string
// with its escapes undone, or a hexadecimal string's bytes.
Text StringBytes(std::string_view token) {
  Text bytes;
  if (token.size() < 2) return bytes;
  if (token.front() == '<') {
    int high = -1;
    for (const char c : token.substr(1, token.size() - 2)) {
      const int digit = HexDigitValue(c);
      if (digit < 0) continue;
      if (high < 0) {
        high = digit;
      } else {
        bytes += static_cast<char>(high * 16 + digit);
        high = -1;
      }
    }
    if (high >= 0) bytes += static_cast<char>(high * 16);
    return bytes;
  }
  const std::string_view body = token.substr(1, token.size() - 2);
  for (std::size_t i = 0; i < body.size(); ++i) {
    if (body[i] != '\\' || i + 1 == body.size()) {
      bytes += body[i];
      continue;
    }
    const char e = body[++i];
    switch (e) {
      case 'n':
        bytes += '\n';
        break;
      case 'r':
        bytes += '\r';
        break;
      case 't':
        bytes += '\t';
        break;
      case 'b':
        bytes += '\b';
        break;
      case 'f':
        bytes += '\f';
        break;
      case '\r':
        // A line continuation: the backslash and the line end give nothing.
        if (i + 1 < body.size() && body[i + 1] == '\n') ++i;
        break;
      case '\n':
        break;
      default:
        if (e >= '0' && e <= '7') {
          int value = e - '0';
          for (int k = 0; k < 2 && i + 1 < body.size() && body[i + 1] >= '0' && body[i + 1] <= '7';
               ++k) {
            value = value * 8 + (body[++i] - '0');
          }
          bytes += static_cast<char>(value & 0xFF);
        } else {
          bytes += e;
        }
    }
  }
  return bytes;
}

// ITU-R BT.601 luma of a colour given as components of DeviceGray (1),
// DeviceRGB (3) or DeviceCMYK (4); nothing for any other count.
std::optional<double> Luminance(const std::vector<double>& components) {
  if (components.size() == 1) return components[0];
  if (components.size() == 3) {
    return 0.299 * components[0] + 0.587 * components[1] + 0.114 * components[2];
  }
  if (components.size() == 4) {
    const double ink = 0.299 * components[0] + 0.587 * components[1] + 0.114 * components[2];
    return std::max(0.0, 1.0 - std::min(1.0, ink + components[3]));
  }
  return std::nullopt;
}

std::vector<double> Numbers(const std::vector<PdfObject>& operands) {
  std::vector<double> numbers;
  for (const PdfObject& operand : operands) {
    if (const std::optional<double> value = operand.NumberValue()) numbers.push_back(*value);
  }
  return numbers;
}

}  // namespace

Text ContentNumber(double value) {
  if (!std::isfinite(value)) return "0";
  const auto scaled = static_cast<long long>(std::llround(value * 10000));
  const long long whole = std::llabs(scaled) / 10000;
  long long fraction = std::llabs(scaled) % 10000;
  Text text = (scaled < 0 ? "-" : "") + std::to_string(whole);
  if (fraction == 0) return text;
  Text digits = std::to_string(fraction);
  digits.insert(0, 4 - digits.size(), '0');
  while (digits.back() == '0') digits.pop_back();
  return text + "." + digits;
}

ShowTextEditor::ShowTextEditor(ShowTextEditing editing) : editing_(std::move(editing)) {}

OperationEditor ShowTextEditor::Editor() {
  return [this](const ContentOperation& operation) { return Edit(operation); };
}

std::optional<Text> ShowTextEditor::Edit(const ContentOperation& operation) {
  const std::string_view op = operation.Operator;
  State& state = states_.back();
  if (op == "q") {
    states_.push_back(state);
    return std::nullopt;
  }
  if (op == "Q") {
    if (states_.size() > 1) states_.pop_back();
    return std::nullopt;
  }
  if (op == "BT") {
    SetTextMatrix({1, 0, 0, 1, 0, 0});
    inText_ = true;
    overridden_ = false;
    darkened_ = false;
    madeOpaque_ = false;
    return std::nullopt;
  }
  if (op == "ET") {
    inText_ = false;
    // What the edits changed is set again as the stream had it by now.
    Text restore;
    if (darkened_)
      restore += state.ColourSpace.empty() ? state.Colour : state.ColourSpace + " " + state.Colour;
    if (madeOpaque_) restore += (restore.empty() ? "" : " ") + state.GraphicsStates;
    while (!restore.empty() && IsWhiteSpace(restore.back())) restore.pop_back();
    if (restore.empty()) return std::nullopt;
    return Text(operation.Bytes) + " " + restore;
  }
  if (op == "T*") MoveLine(0, -state.Leading);
  if (op == "'" || op == "\"") {
    MoveLine(0, -state.Leading);
    atLineStart_ = false;
  }
  if (op == "Tj" || op == "TJ" || op == "'" || op == "\"") {
    std::optional<Text> edited = EditShow(operation);
    atLineStart_ = false;
    return edited;
  }
  const std::vector<PdfObject> operands = Operands(operation);
  if (op == "Td" || op == "TD") {
    const std::vector<double> t = Numbers(operands);
    if (t.size() == 2) {
      MoveLine(t[0], t[1]);
      if (op == "TD") state.Leading = -t[1];
    } else {
      atLineStart_ = false;
    }
    return std::nullopt;
  }
  if (op == "Tc" || op == "Tw" || op == "TL") {
    const std::vector<double> value = Numbers(operands);
    if (value.size() != 1) return std::nullopt;
    (op == "Tc" ? state.CharSpacing : op == "Tw" ? state.WordSpacing : state.Leading) = value[0];
    return std::nullopt;
  }
  if (op == "Tr") {
    if (operands.empty()) return std::nullopt;
    const std::optional<std::int64_t> mode = operands.back().Integer();
    state.RenderMode = static_cast<int>(mode.value_or(0));
    if (state.RenderMode == 3) return Text("0 Tr");
    if (state.RenderMode == 7) return Text("4 Tr");
    return std::nullopt;
  }
  if (op == "Tz") {
    if (!operands.empty()) state.Scaling = NumberOf(operands.back(), 100);
    return std::nullopt;
  }
  if (op == "Tf") {
    if (operands.size() == 2 && operands[0].Kind == PdfObject::Type::kName) {
      state.Font = operands[0].Value;
      state.FontSize = NumberOf(operands[1], 0);
    }
    return std::nullopt;
  }
  if (op == "Tm") {
    const std::vector<double> m = Numbers(operands);
    if (m.size() == 6) {
      state.Mirrored = m[0] * m[3] - m[1] * m[2] < 0;
      SetTextMatrix(m);
    } else {
      atLineStart_ = false;
    }
    return std::nullopt;
  }
  if (op == "Do") {
    if (!editing_.WrapImages || inText_ || operands.empty() ||
        operands[0].Kind != PdfObject::Type::kName || !editing_.Resources.IsImage ||
        !editing_.Resources.IsImage(operands[0].Value)) {
      return std::nullopt;
    }
    ++wrappedImages_;
    return "q /" + Text(kMultiplyState) + " gs " + Text(operation.Bytes) + " Q";
  }
  if (op == "gs") {
    if (operands.empty() || operands[0].Kind != PdfObject::Type::kName) return std::nullopt;
    state.GraphicsStates += Text(operation.Bytes) + " ";
    state.TransparentFill =
        editing_.Resources.HidesFill && editing_.Resources.HidesFill(operands[0].Value);
    if (inText_ && overridden_ && state.TransparentFill) {
      usesOpaqueState_ = true;
      madeOpaque_ = true;
      return Text(operation.Bytes) + " /" + kOpaqueState + " gs";
    }
    return std::nullopt;
  }
  const bool colourSpace = op == "cs";
  const bool colour = op == "g" || op == "rg" || op == "k" || op == "sc" || op == "scn";
  if (!colourSpace && !colour) return std::nullopt;
  if (colourSpace) {
    state.ColourSpace = Text(operation.Bytes);
    state.Colour.clear();
    // A colour space starts with its initial colour, black or the first
    // entry: nothing light as far as the stream tells.
    state.LightFill = false;
  } else {
    state.Colour = Text(operation.Bytes);
    if (op != "sc" && op != "scn") state.ColourSpace.clear();
    const std::string_view space = state.ColourSpace;
    const bool deviceSpace = op == "g" || op == "rg" || op == "k" ||
                             space.starts_with("/DeviceGray") || space.starts_with("/DeviceRGB") ||
                             space.starts_with("/DeviceCMYK");
    const std::optional<double> luminance =
        deviceSpace ? Luminance(Numbers(operands)) : std::nullopt;
    state.LightFill = luminance && *luminance >= kLightest;
  }
  // Inside a text object already made dark, a light colour stays dark.
  if (inText_ && overridden_ && state.LightFill) {
    darkened_ = true;
    return Text("0 g");
  }
  return std::nullopt;
}

std::optional<Text> ShowTextEditor::EditShow(const ContentOperation& operation) {
  State& state = states_.back();
  if (state.RenderMode != 3 && state.RenderMode != 7) return std::nullopt;
  drawsInvisibleText_ = true;
  Text before;
  Text after;
  if (!overridden_ && (state.LightFill || state.TransparentFill)) {
    overridden_ = true;
    if (state.LightFill) {
      before += "0 g ";
      darkened_ = true;
    }
    if (state.TransparentFill) {
      usesOpaqueState_ = true;
      before += "/" + Text(kOpaqueState) + " gs ";
      madeOpaque_ = true;
    }
  }
  const ReplacedFontWidths* font =
      editing_.Resources.ReplacedFont ? editing_.Resources.ReplacedFont(state.Font) : nullptr;
  if (font != nullptr) {
    // The advance from the first code to the last one that is no space, with
    // the old widths and with the new: the scaling makes them equal, so the
    // word spans its box again (the spacing numbers of TJ count in both).
    double oldAdvance = 0;
    double newAdvance = 0;
    double oldTrailing = 0;
    double newTrailing = 0;
    std::set<std::uint32_t>& shown = codesShown_[state.Font];
    std::vector<ToUnicodeMap::Code> codes;
    double newTotal = 0;
    bool plain = true;  // one string, nothing else
    const auto add = [&](std::string_view token) {
      for (const ToUnicodeMap::Code& code : font->Codes.SplitCodes(StringBytes(token))) {
        codes.push_back(code);
        const double oldWidth = font->OldWidth(code.Value);
        const double newWidth = font->NewWidth(code.Value);
        newTotal += newWidth;
        oldAdvance += oldWidth;
        newAdvance += newWidth;
        const std::optional<std::u32string> text = font->Codes.TextOf(code.Value, code.Length);
        if (text && *text == U" ") {
          oldTrailing += oldWidth;
          newTrailing += newWidth;
        } else {
          oldTrailing = 0;
          newTrailing = 0;
        }
        shown.insert(code.Value);
        if (state.Mirrored) codesMirrored_[state.Font].insert(code.Value);
      }
    };
    const std::vector<PdfObject> operands = Operands(operation);
    std::size_t strings = 0;
    for (const PdfObject& operand : operands) {
      if (operand.Kind == PdfObject::Type::kString) {
        ++strings;
        add(operation.Bytes.substr(operand.Start, operand.End - operand.Start));
      } else if (operand.Kind == PdfObject::Type::kArray && operation.Operator == "TJ") {
        for (const PdfObject& item : operand.Items) {
          if (item.Kind == PdfObject::Type::kString) {
            ++strings;
            add(operation.Bytes.substr(item.Start, item.End - item.Start));
          } else if (const std::optional<double> shift = item.NumberValue()) {
            plain = false;
            oldAdvance -= *shift;
            newAdvance -= *shift;
          }
        }
      } else {
        plain = false;
      }
    }
    oldAdvance -= oldTrailing;
    newAdvance -= newTrailing;
    double scaling = state.Scaling;
    if (oldAdvance > 0 && newAdvance > 0 && std::abs(oldAdvance - newAdvance) > 1e-9) {
      scaling = state.Scaling * oldAdvance / newAdvance;
      before += ContentNumber(scaling) + " Tz ";
      after = " " + ContentNumber(state.Scaling) + " Tz";
    }
    const bool simpleShow = operation.Operator == "Tj" || operation.Operator == "TJ";
    if (state.Mirrored && atLineStart_ && simpleShow && plain && strings == 1 && !codes.empty() &&
        state.CharSpacing == 0 && state.WordSpacing == 0 && state.FontSize != 0) {
      if (const std::optional<Text> drawn = ShowMirrored(state, codes, scaling, newTotal)) {
        return before + *drawn + after;
      }
    }
  }
  if (before.empty() && after.empty()) return std::nullopt;
  return before + Text(operation.Bytes) + after;
}

void ShowTextEditor::SetTextMatrix(const std::vector<double>& m) {
  std::copy(m.begin(), m.end(), lineMatrix_);
  atLineStart_ = true;
}

void ShowTextEditor::MoveLine(double tx, double ty) {
  double* const l = lineMatrix_;
  l[4] += tx * l[0] + ty * l[2];
  l[5] += tx * l[1] + ty * l[3];
  atLineStart_ = true;
}

std::optional<Text> ShowTextEditor::ShowMirrored(const State& state,
                                                 const std::vector<ToUnicodeMap::Code>& codes,
                                                 double scaling, double advance) {
  if (advance <= 0) return std::nullopt;
  // The word spans [0, width] along the mirrored x axis; drawn along the
  // opposite axis from its far end, it covers the same box.
  const double* const t = lineMatrix_;
  const double width = advance / 1000 * state.FontSize * scaling / 100;
  Text unmirrored;
  for (const double value : {-t[0], -t[1], t[2], t[3], width * t[0] + t[4], width * t[1] + t[5]}) {
    unmirrored += ContentNumber(value) + " ";
  }
  Text matrix;
  for (int i = 0; i < 6; ++i) matrix += ContentNumber(t[i]) + " ";
  Text reversed = "<";
  for (auto code = codes.rbegin(); code != codes.rend(); ++code) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (std::size_t i = code->Length; i-- > 0;) {
      const unsigned byte = (code->Value >> (8 * i)) & 0xFF;
      reversed += kDigits[byte >> 4];
      reversed += kDigits[byte & 0xF];
    }
  }
  reversed += ">";
  ++mirroredWords_;
  return unmirrored + "Tm [" + reversed + "] TJ " + matrix + "Tm [" + ContentNumber(-advance) +
         "] TJ";
}

}  // namespace quillane
