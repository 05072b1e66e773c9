#include "terminal/vt_parser.hpp"

namespace zelto {

const char* parser_state_name(VtParserState state) {
    switch (state) {
    case VT_PARSER_STATE_LITERAL: return "character literal";
    case VT_PARSER_STATE_ESCAPED: return "escape code";
    case VT_PARSER_STATE_CONTROL_SEQ: return "in control sequence";
    case VT_PARSER_STATE_DCS: return "in device control string";
    case VT_PARSER_STATE_APC: return "in application program command";
    case VT_PARSER_STATE_OSC: return "operating system command";
    case VT_PARSER_STATE_CHARSET_SELECT: return "character set select";
    case VT_PARSER_STATE_CHARSET_G0: return "character set G0";
    case VT_PARSER_STATE_CHARSET_G1: return "character set G1";
    case VT_PARSER_STATE_CHARSET_G2: return "character set G2";
    case VT_PARSER_STATE_CHARSET_G3: return "character set G3";
    case VT_PARSER_STATE_LEGACY_TITLE: return "legacy title select";
    case VT_PARSER_STATE_DEC_SPECIAL: return "DEC special command";
    }
    return "";
}

void VtParser::begin_csi() {
    state_ = VT_PARSER_STATE_CONTROL_SEQ;
    csi_.leader = 0;
    csi_.intermediate_count = 0;
    csi_.final = 0;
    csi_.count = 0;
    csi_.malformed = false;
    csi_.raw_length = 0;
    csi_.length = 0;
    csi_params_overflowed_ = false;
}

void VtParser::begin_string(VtParserState state) {
    state_ = state;
    string_.clear();
    string_escape_ = false;
    string_overflowed_ = false;
}

void VtParser::drop_string() {
    string_escape_ = false;
    string_overflowed_ = false;
    // Long strings give their memory back; short ones keep the buffer for the next.
    if (string_.capacity() > 4096) {
        std::string().swap(string_);
    } else {
        string_.clear();
    }
}

VtStringKind VtParser::string_kind() const {
    switch (state_) {
    case VT_PARSER_STATE_DCS: return VT_STRING_DCS;
    case VT_PARSER_STATE_APC: return VT_STRING_APC;
    case VT_PARSER_STATE_LEGACY_TITLE: return VT_STRING_LEGACY_TITLE;
    default: return VT_STRING_OSC;
    }
}

std::size_t VtParser::string_cap() const {
    switch (state_) {
    case VT_PARSER_STATE_DCS: return VT_DCS_MAX;
    case VT_PARSER_STATE_APC: return VT_APC_MAX;
    default: return VT_OSC_MAX;
    }
}

}  // namespace zelto
