#include "tools/updater/updater.h"

#include "apps/common/introspection/setters.h"
#include "apps/common/log/log.h"
#include "apps/web/service/appvariables.h"

#include <fstream>

namespace {
constexpr int PROGRESS_STEP = 25;

bool isEvent(const Notify& notify, const SharedVariable& variable) {
    return notify.id == variable.event().id;
}

void setState(const SharedVariable& state, gen::UpdateState value) {
    LOG(LogLight, "%s: %s", state.name(), updateStateName(stateValue(value)));
    storeIfChanged(state, stateValue(value));
}

void takeStep(std::deque<std::function<void()>>& steps) {
    if (steps.empty()) return;
    auto step = std::move(steps.front());
    steps.pop_front();
    step();
}
}  // namespace

Updater::Updater(int parts) : parts(parts) {}

void Updater::handleEvent(const Notify& notify) {
    const AppVariables& variables = appVariables();
    // The service clears a file name before it sets it, so that every upload
    // is announced, and each announcement starts a new check. The first of
    // the two events may already see the new name: either starts over.
    if (isEvent(notify, variables.hostUpdateFileName)) {
        std::string path = boundedText(variables.hostUpdateFileName.text<128>().data(), 128);
        if (!path.empty()) host = fileCheck(path, variables.hostUpdateFileState);
    } else if (isEvent(notify, variables.tlxUpdateFileName)) {
        std::string path = boundedText(variables.tlxUpdateFileName.text<128>().data(), 128);
        if (!path.empty()) accessory = fileCheck(path, variables.tlxUpdateState);
    } else if (isEvent(notify, variables.hostUpdateStart)) {
        if (variables.hostUpdateStart.isSet()) host = hostInstall();
    } else if (isEvent(notify, variables.tlxUpdateStart)) {
        if (variables.tlxUpdateStart.isSet()) accessory = accessoryInstall();
    }
}

void Updater::tick() {
    takeStep(host);
    takeStep(accessory);
}

gen::UpdateState Updater::verdict(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return gen::UpdateState::FileNotFound;
    std::string start(std::char_traits<char>::length(CORRUPT_MARK), '\0');
    file.read(start.data(), static_cast<std::streamsize>(start.size()));
    if (file.gcount() == 0 || start == CORRUPT_MARK) return gen::UpdateState::FileCorrupt;
    return gen::UpdateState::FileValid;
}

Updater::Steps Updater::fileCheck(const std::string& path, const SharedVariable& state) {
    LOG(LogLight, "Checking %s", path.c_str());
    return {
        [&state] { setState(state, gen::UpdateState::CheckingFile); },
        [&state, path] { setState(state, verdict(path)); },
    };
}

Updater::Steps Updater::hostInstall() {
    const AppVariables& variables = appVariables();
    // The device restarts into the new firmware, which reports the outcome.
    return {
        [&variables] { setState(variables.hostUpdateFileState, gen::UpdateState::Rebooting); },
        [&variables] {
            setState(variables.hostUpdateFileState, gen::UpdateState::Success);
            storeIfChanged(variables.hostUpdateStart, false);
        },
    };
}

Updater::Steps Updater::accessoryInstall() {
    const AppVariables& variables = appVariables();
    Steps steps;
    steps.push_back([&variables, count = parts] {
        storeIfChanged(variables.tlxUpdateCount, count);
        storeIfChanged(variables.tlxUpdateIndex, 0);
        storeIfChanged(variables.tlxUpdateProgress, 0);
        setState(variables.tlxUpdateState, gen::UpdateState::InProgress);
    });
    for (int index = 0; index < parts; ++index) {
        for (int progress = PROGRESS_STEP; progress <= 100; progress += PROGRESS_STEP) {
            steps.push_back([&variables, index, progress] {
                storeIfChanged(variables.tlxUpdateIndex, index);
                storeIfChanged(variables.tlxUpdateProgress, progress);
            });
        }
    }
    steps.push_back([&variables] {
        setState(variables.tlxUpdateState, gen::UpdateState::Success);
        storeIfChanged(variables.tlxUpdateStart, false);
    });
    return steps;
}
