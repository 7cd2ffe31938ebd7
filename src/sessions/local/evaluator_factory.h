#pragma once

#include <functional>
#include <memory>

#include "storage/rows/execution_seam.h"

namespace brn {

class TBRNLocalSessionManager;

// Makes the expression evaluator of a local session.
//
// Contract: the factory is called once per session open, while the session
// builds its tools, with the session itself; the session's settings
// (SessionSettings, with StandardNullBehavior) are readable then, its
// configuration is not built yet. The evaluator reaches back into the
// session (ForceProgress, StatusMessage, LogMessage) through that
// reference: the session outlives the evaluator it owns. The factory may
// raise (the session open then fails) but must not answer nullptr.
//
// SQL execution installs its evaluator here when it starts; until then the
// default gives TBRNSessionStubEvaluator.
using TBRNSessionEvaluatorFactory =
    std::function<std::unique_ptr<TBRNExpressionEvaluator>(TBRNLocalSessionManager& session)>;

// Installs factory for every session opened from now on and answers the
// previous one; an empty factory puts the default back. Sessions already
// open keep their evaluator. May be called from any thread.
TBRNSessionEvaluatorFactory SetSessionEvaluatorFactory(TBRNSessionEvaluatorFactory factory);
// The evaluator of the installed factory (std::logic_error when it answers
// nullptr). May be called from any thread.
std::unique_ptr<TBRNExpressionEvaluator> CreateSessionEvaluator(TBRNLocalSessionManager& session);

// The evaluator of a session until SQL execution provides one: it keeps the
// current context, and evaluating anything raises std::logic_error.
class TBRNSessionStubEvaluator : public TBRNExpressionEvaluator {
 public:
  TBRNEvaluationContext* SwapContext(TBRNEvaluationContext* context) override;
  void RestoreContext(TBRNEvaluationContext* previous) override;
  void EvaluateExpression(TBRNExprToken* root) override;
  void ExecuteRoutine(TBRNExprToken* block) override;
  void PushTokenValue(TBRNExprToken*) override {}
  void PopTokenValue(TBRNExprToken*) override {}

  TBRNEvaluationContext* Current = nullptr;
};

}  // namespace brn
