#include "video/H264Params.h"

namespace quillet {

int fill_h264_params(x264_param_t* p, const H264Settings& s)
{
    if (p == nullptr)
        return 0;
    x264_param_default(p);
    p->i_threads = 1;
    p->i_width = s.width;
    p->i_height = s.height;
    // The library sees twice the real rate; it affects no output field we use.
    p->i_fps_num = static_cast<uint32_t>(2 * s.fps);
    p->i_fps_den = 1;
    p->i_keyint_max = 10 * s.fps;
    p->i_keyint_min = s.fps;
    p->i_bframe = 0;
    p->b_cabac = 0;
    p->i_log_level = X264_LOG_NONE;
    p->rc.i_bitrate = s.bitrate_kbps;
    p->rc.i_qp_min = 10;
    p->rc.i_qp_max = 20;
    // Named but never opened: b_stat_write and b_stat_read stay off.
    p->rc.psz_stat_out = const_cast<char*>("x264_2pass.log");
    p->rc.psz_stat_in = const_cast<char*>("264_2pass.log");
    p->b_repeat_headers = s.repeat_headers ? 1 : 0;

    // Defaults of the library generation the stream format was settled with,
    // restated because current libraries default otherwise.
    p->i_frame_reference = 1;
    p->i_scenecut_threshold = 40;
    p->b_deblocking_filter = 1;
    p->i_deblocking_filter_alphac0 = 0;
    p->i_deblocking_filter_beta = 0;
    p->analyse.b_transform_8x8 = 0;
    p->analyse.i_me_method = X264_ME_HEX;
    p->analyse.i_me_range = 16;
    p->analyse.i_subpel_refine = 5;
    p->i_csp = X264_CSP_I420;
    p->i_level_idc = 40;
    // Constant quantiser rather than average bit rate: within quantisers 10..20
    // the computed target (at most 512 kbit/s) is never met on screen content,
    // so average-bitrate control only makes files larger and their size less
    // predictable (bench_video_h264_ratecontrol measures both).
    p->rc.i_rc_method = X264_RC_CQP;
    p->rc.i_qp_constant = kH264Quantiser;
    p->rc.f_ip_factor = 1.4f;

    // Weighted P prediction did not exist then and would lift the stream out of
    // the Baseline profile that the sequence header announces.
    p->analyse.i_weighted_pred = X264_WEIGHTP_NONE;
    p->analyse.b_mixed_references = 0;
    // One picture in, one access unit out: the writers need each picture's
    // key flag at once, so no look-ahead may hold pictures back.
    p->rc.i_lookahead = 0;
    p->rc.b_mb_tree = 0;
    p->i_sync_lookahead = 0;
    p->b_vfr_input = 0;
    p->b_sliced_threads = 0;
    // Callers may say which macroblocks did not change since the previous
    // picture; the library then skips them unanalysed. Without such hints
    // nothing is coded differently.
    p->analyse.b_mb_info = 1;
    // Every NAL unit comes back behind a 4-byte length, which we strip.
    p->b_annexb = 0;
    return 1;
}

} // namespace quillet
