// The C interface's wide-character entry points: Windows paths as the system spells them.
#include "c_api.h"

extern "C" {

int vexlor_bindings_patch_w(const wchar_t* bindings_dir, unsigned lock_wait_ms, vexlor_log_fn log,
                            void* log_context, char** result_json) {
    return vexlor::c_api::Patch({nullptr, bindings_dir}, lock_wait_ms, log, log_context,
                                result_json);
}

int vexlor_bindings_unpatch_w(const wchar_t* bindings_dir, unsigned lock_wait_ms, vexlor_log_fn log,
                              void* log_context, char** result_json) {
    return vexlor::c_api::Unpatch({nullptr, bindings_dir}, lock_wait_ms, log, log_context,
                                  result_json);
}

int vexlor_bindings_write_json_w(const wchar_t* target, const char* json_text, vexlor_log_fn log,
                                 void* log_context) {
    return vexlor::c_api::WriteJson({nullptr, target}, json_text, log, log_context);
}

char* vexlor_bindings_status_json_w(const wchar_t* bindings_dir) {
    return vexlor::c_api::StatusJson({nullptr, bindings_dir});
}

char* vexlor_bindings_patch_plan_json_w(const wchar_t* bindings_dir) {
    return vexlor::c_api::PatchPlanJson({nullptr, bindings_dir});
}

char* vexlor_bindings_unpatch_plan_json_w(const wchar_t* bindings_dir) {
    return vexlor::c_api::UnpatchPlanJson({nullptr, bindings_dir});
}

}  // extern "C"
