#include "modem/RoleChanges.h"

namespace vetlina {

ModemRole roleAfterScenarioReceived(ModemRole role) {
    switch (role) {
    case ModemRole::Answering:
        return ModemRole::AnsweringServed;
    case ModemRole::Calling:
    case ModemRole::CallingInCall:
        return ModemRole::AnsweringInRun;
    case ModemRole::AnsweringServed:
    case ModemRole::AnsweringInRun:
        break;
    }
    return role;
}

RoleChange roleAfterSession(ModemRole role, bool seriesFinished) {
    if (!seriesFinished)
        return {role, ModemCommand::WaitForCall};
    switch (role) {
    case ModemRole::CallingInCall:
    case ModemRole::Calling:
        return {ModemRole::Calling, ModemCommand::WaitForCall};
    case ModemRole::AnsweringInRun:
        return {ModemRole::Calling, ModemCommand::WaitForCall, true};
    case ModemRole::Answering:
    case ModemRole::AnsweringServed:
        break;
    }
    return {ModemRole::Answering, ModemCommand::WaitForCall};
}

RoleChange roleAfterNoCall(ModemRole role) {
    switch (role) {
    case ModemRole::AnsweringServed:
        return {ModemRole::Answering, ModemCommand::WaitForCall, false, true};
    case ModemRole::AnsweringInRun:
        return {ModemRole::AnsweringInRun, ModemCommand::ChooseAndDial, false, true};
    case ModemRole::Calling:
        return {ModemRole::Calling, ModemCommand::ChooseAndDial};
    case ModemRole::CallingInCall:
        return {ModemRole::CallingInCall, ModemCommand::ClassifyDialResult, false, false, true};
    case ModemRole::Answering:
        break;
    }
    return {ModemRole::Answering, ModemCommand::WaitForCall};
}

} // namespace vetlina
