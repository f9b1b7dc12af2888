// The form-file reader on any text: it either raises EReadError or builds components, and what it
// builds writes back to a text that reads again to the same values and the same text.
#include <cstdint>
#include <map>
#include <string>

#include "fuzz_support.h"
#include "tav/formfile.h"
#include "tav/tavclasses.h"

using namespace tav;

namespace {

// Active would open a database named by the input: here it is only remembered per component.
std::map<const TComponent*, bool> activeOf;

TClassRegistry Registry() {
    TClassRegistry registry;
    for (TClassInfo info : TAVClassRegistry().Classes()) {
        for (TPropertyInfo& p : info.properties) {
            if (p.name != "Active") continue;
            p.read = [](const TComponent& c) { return TPropertyValue(activeOf[&c]); };
            p.write = [](TComponent& c, const TPropertyValue& v) {
                activeOf[&c] = std::get<bool>(v);
            };
        }
        registry.Register(std::move(info));
    }
    return registry;
}

// Lines of a text whose lines end in LF, CR LF or CR.
int Lines(const std::string& text) {
    int lines = 1;
    for (size_t i = 0; i < text.size(); ++i)
        if (text[i] == '\n' || (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')))
            ++lines;
    return lines;
}

std::string Write(const TClassRegistry& registry, const TFormContents& f) {
    return WriteForm(registry, f.rootName, f.rootClass,
                     std::vector<const TComponent*>(f.components.begin(), f.components.end()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const TClassRegistry registry = Registry();
    const std::string text(reinterpret_cast<const char*>(data), size);
    activeOf.clear();
    TFormContents first;
    try {
        first = ReadForm(registry, text);
    } catch (const EReadError& e) {
        // Refused, as it may be (any other exception escapes and is a finding), at one of the
        // text's lines.
        if (e.Line() < 1 || e.Line() > Lines(text))
            tavfuzz::Finding("an error at line " + std::to_string(e.Line()) + " of " +
                             std::to_string(Lines(text)) + ": " + ErrorMessage(e));
        return 0;
    }
    std::string written;
    try {
        written = Write(registry, first);
    } catch (const Exception& e) {
        tavfuzz::Finding("what was read cannot be written: " + ErrorMessage(e));
    }
    TFormContents second;
    try {
        second = ReadForm(registry, written);
    } catch (const EReadError& e) {
        tavfuzz::Finding("what was written cannot be read: " + ErrorMessage(e) + "\n" + written);
    }
    if (second.rootName != first.rootName || second.rootClass != first.rootClass ||
        second.components.size() != first.components.size())
        tavfuzz::Finding("another root or other components read back");
    for (size_t k = 0; k < first.components.size(); ++k) {
        const TComponent& a = *first.components[k];
        const TComponent& b = *second.components[k];
        const TClassInfo* info = registry.ClassOf(a);
        if (a.Name() != b.Name() || info != registry.ClassOf(b))
            tavfuzz::Finding("component " + a.Name() + " read back as another");
        for (const TPropertyInfo& p : info->properties)
            if (!(p.read(a) == p.read(b)))
                tavfuzz::Finding(a.Name() + "." + p.name + " read back with another value");
    }
    if (Write(registry, second) != written) tavfuzz::Finding("written twice, two texts");
    return 0;
}
