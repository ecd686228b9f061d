#include "relay/event/event_run.h"

#include "relay/start_checks.h"
#include "relay/target_resolution.h"

EventRun RunFor(const StartRequest& request) {
    EventRun run;
    run.settings = request;
    run.settings.chunkSize = EffectiveChunkSize(request.chunkSize);
    run.target = ParseTarget(TrimmedTarget(request.targetText), TargetForm::Literal);
    return run;
}
