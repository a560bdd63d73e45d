#include "common/step_shell.h"

#include "common/transliteration.h"

namespace velta {

namespace {

Action actionOfPolicy(int32_t policy) {
    switch (policy) {
        case NLS_POLICY_STOP:
            return Action::kStop;
        case NLS_POLICY_SKIP:
            return Action::kSkip;
        default:
            return Action::kReplace;
    }
}

void appendUnit(ChosenText* text, uint32_t unit) {
    text->units[text->count++] = static_cast<uint16_t>(unit);
}

void appendAscii(ChosenText* text, const char* ascii) {
    while (*ascii != 0 && text->count < kMaxChosenUnits)
        appendUnit(text, static_cast<unsigned char>(*ascii++));
}

void appendNumber(ChosenText* text, uint32_t value, uint32_t base, uint32_t leastDigits) {
    char digits[12];
    uint32_t length = 0;
    do {
        digits[length++] = "0123456789ABCDEF"[value % base];
        value /= base;
    } while (value != 0);
    while (length < leastDigits) digits[length++] = '0';
    while (length != 0) appendUnit(text, static_cast<unsigned char>(digits[--length]));
}

// \uXXXX as Java, JSON and JavaScript write it: a pair of escapes beyond
// the BMP.
void appendUnicodeEscape(ChosenText* text, uint32_t codePoint) {
    if (codePoint >= 0x10000) {
        appendUnicodeEscape(text, 0xD800 + ((codePoint - 0x10000) >> 10));
        appendUnicodeEscape(text, 0xDC00 + ((codePoint - 0x10000) & 0x3FF));
        return;
    }
    appendAscii(text, "\\u");
    appendNumber(text, codePoint, 16, 4);
}

void appendCodePoint(ChosenText* text, uint32_t codePoint) {
    if (codePoint >= 0x10000) {
        appendUnit(text, 0xD800 + ((codePoint - 0x10000) >> 10));
        appendUnit(text, 0xDC00 + ((codePoint - 0x10000) & 0x3FF));
    } else {
        appendUnit(text, codePoint);
    }
}

}  // namespace

Actions actionsFor(int32_t policy, const ConversionOptions& options) {
    Actions actions{actionOfPolicy(policy), actionOfPolicy(policy), options.fallback,
                    options.substitute};
    if (policy == NLS_POLICY_TRANSLITERATE) actions.unmappable = Action::kTransliterate;
    if (options.malformed != Action::kFromPolicy) actions.malformed = options.malformed;
    if (options.unmappable != Action::kFromPolicy) actions.unmappable = options.unmappable;
    return actions;
}

ChosenText replacementText() {
    ChosenText text{{0xFFFD}, 1};
    return text;
}

ChosenText questionMarkText() {
    ChosenText text{{'?'}, 1};
    return text;
}

bool chosenTextFor(Action action, const StepResult& result, const Actions& actions,
                   ChosenText* text) {
    text->count = 0;
    const uint32_t character = result.character;
    if (result.stop == Stop::kMalformed) {
        if (action != Action::kReplace) return false;
        *text = replacementText();
        return true;
    }
    switch (action) {
        case Action::kReplace:
            *text = questionMarkText();
            return true;
        case Action::kTransliterate: {
            const char* standIn = character < 0x10000 ? transliterationOf(character) : nullptr;
            if (standIn == nullptr) return false;
            appendAscii(text, standIn);
            return true;
        }
        case Action::kEscapeXmlDecimal:
            appendAscii(text, "&#");
            appendNumber(text, character, 10, 1);
            appendUnit(text, ';');
            return true;
        case Action::kEscapeXmlHex:
            appendAscii(text, "&#x");
            appendNumber(text, character, 16, 1);
            appendUnit(text, ';');
            return true;
        case Action::kEscapeUnicode:
            appendUnicodeEscape(text, character);
            return true;
        case Action::kSubstitute:
            appendCodePoint(text, actions.substitute);
            return true;
        default:
            return false;
    }
}

ConverterInterfaces interfacesOf(TEncodingConverter* converter) {
    ConverterInterfaces found;
    if (converter == nullptr) return found;
    found.stepped = dynamic_cast<TSteppedConverter*>(converter);
    if (found.stepped != nullptr) {
        found.pieces = found.stepped->StreamInterface();
        found.taker = found.stepped->OptionInterface();
        found.replacement = found.stepped->ReplacementInterface();
        return found;
    }
    found.pieces = dynamic_cast<TStreamConverter*>(converter);
    found.taker = dynamic_cast<TOptionTaker*>(converter);
    found.replacement = dynamic_cast<const TReplacementWriter*>(converter);
    return found;
}

}  // namespace velta
