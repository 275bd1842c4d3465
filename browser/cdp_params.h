#pragma once

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <string>
#include <string_view>

// The params object of a protocol call, written by the JSON writer: numbers
// never depend on the locale, texts are always escaped.
class CdpParams final {
public:
    CdpParams() { m_writer.StartObject(); }

    CdpParams &text(const char *key, std::string_view value)
    {
        m_writer.Key(key);
        m_writer.String(value.data(), static_cast<rapidjson::SizeType>(value.size()));
        return *this;
    }
    CdpParams &number(const char *key, double value)
    {
        m_writer.Key(key);
        m_writer.Double(value);
        return *this;
    }
    CdpParams &integer(const char *key, long long value)
    {
        m_writer.Key(key);
        m_writer.Int64(value);
        return *this;
    }
    CdpParams &flag(const char *key, bool value)
    {
        m_writer.Key(key);
        m_writer.Bool(value);
        return *this;
    }
    CdpParams &texts(const char *key, std::initializer_list<std::string_view> values)
    {
        m_writer.Key(key);
        m_writer.StartArray();
        for (std::string_view v : values)
            m_writer.String(v.data(), static_cast<rapidjson::SizeType>(v.size()));
        m_writer.EndArray();
        return *this;
    }

    // The finished object; the builder is spent afterwards.
    std::string json()
    {
        m_writer.EndObject();
        return std::string(m_buffer.GetString(), m_buffer.GetSize());
    }

private:
    rapidjson::StringBuffer m_buffer;
    rapidjson::Writer<rapidjson::StringBuffer> m_writer{m_buffer};
};
