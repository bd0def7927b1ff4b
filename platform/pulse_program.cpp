#include "platform/pulse_program.h"

namespace larkspur {
namespace {
std::string Property(const pa_proplist* properties, const char* key) {
    const char* value = properties ? pa_proplist_gets(properties, key) : nullptr;
    return value ? value : "";
}
}  // namespace

PlayingProgram ProgramOf(const pa_proplist* properties) {
    PlayingProgram program{Property(properties, PA_PROP_APPLICATION_NAME),
                           Property(properties, PA_PROP_APPLICATION_ICON_NAME)};
    if (program.name.empty()) program.name = Property(properties, PA_PROP_APPLICATION_PROCESS_BINARY);
    return program;
}

}  // namespace larkspur
