//! One call of encoding_rs converting a whole buffer, as the benchmark
//! times the other engines. Either side is "UTF-8", "UTF-16" (units in the
//! machine's order, as Velta's pivot) or a label encoding_rs knows; one side
//! must be UTF-8 or UTF-16, as encoding_rs only decodes to and encodes from
//! them.
use encoding_rs::{CoderResult, Encoding};
use std::ffi::CStr;
use std::os::raw::c_char;

enum Side {
    Utf8,
    Utf16,
    Legacy(&'static Encoding),
}

fn side(name: *const c_char) -> Option<Side> {
    let name = unsafe { CStr::from_ptr(name) }.to_bytes();
    match name {
        b"UTF-8" => Some(Side::Utf8),
        b"UTF-16" => Some(Side::Utf16),
        _ => Encoding::for_label(name).map(Side::Legacy),
    }
}

// An encoding encoding_rs writes (its UTF-16 encoders write UTF-8, as the
// WHATWG standard has them).
fn writable(encoding: &'static Encoding) -> bool {
    encoding.output_encoding() == encoding
}

fn units<'a>(bytes: &'a [u8]) -> &'a [u16] {
    unsafe { std::slice::from_raw_parts(bytes.as_ptr() as *const u16, bytes.len() / 2) }
}

fn units_mut<'a>(bytes: &'a mut [u8]) -> &'a mut [u16] {
    unsafe { std::slice::from_raw_parts_mut(bytes.as_mut_ptr() as *mut u16, bytes.len() / 2) }
}

fn done(result: CoderResult, written: usize) -> isize {
    match result {
        CoderResult::InputEmpty => written as isize,
        CoderResult::OutputFull => -1,
    }
}

fn decode_to_utf16(encoding: &'static Encoding, src: &[u8], dst: &mut [u8]) -> isize {
    let (r, _, w, _) =
        encoding
            .new_decoder_without_bom_handling()
            .decode_to_utf16(src, units_mut(dst), true);
    done(r, 2 * w)
}

/// Whether encoding_rs converts between the two (1) or not (0).
#[no_mangle]
pub extern "C" fn velta_bench_encoding_rs_has(from: *const c_char, to: *const c_char) -> i32 {
    match (side(from), side(to)) {
        (Some(Side::Legacy(_)), Some(Side::Utf8)) | (Some(Side::Legacy(_)), Some(Side::Utf16)) => 1,
        (Some(Side::Utf8), Some(Side::Legacy(e))) | (Some(Side::Utf16), Some(Side::Legacy(e)))
            if writable(e) =>
        {
            1
        }
        (Some(Side::Utf8), Some(Side::Utf16)) | (Some(Side::Utf16), Some(Side::Utf8)) => 1,
        _ => 0,
    }
}

/// Converts the whole input; returns the output bytes, or -1 where the
/// output was too small or the pair is not converted.
#[no_mangle]
pub extern "C" fn velta_bench_encoding_rs_convert(
    from: *const c_char,
    to: *const c_char,
    input: *const u8,
    input_length: usize,
    output: *mut u8,
    capacity: usize,
) -> isize {
    let src = unsafe { std::slice::from_raw_parts(input, input_length) };
    let dst = unsafe { std::slice::from_raw_parts_mut(output, capacity) };
    match (side(from), side(to)) {
        (Some(Side::Legacy(e)), Some(Side::Utf8)) => {
            let (r, _, w, _) = e
                .new_decoder_without_bom_handling()
                .decode_to_utf8(src, dst, true);
            done(r, w)
        }
        (Some(Side::Legacy(e)), Some(Side::Utf16)) => decode_to_utf16(e, src, dst),
        (Some(Side::Utf8), Some(Side::Utf16)) => decode_to_utf16(encoding_rs::UTF_8, src, dst),
        (Some(Side::Utf8), Some(Side::Legacy(e))) if writable(e) => {
            let text = unsafe { std::str::from_utf8_unchecked(src) };
            let (r, _, w, _) = e.new_encoder().encode_from_utf8(text, dst, true);
            done(r, w)
        }
        (Some(Side::Utf16), Some(Side::Legacy(e))) if writable(e) => {
            let (r, _, w, _) = e.new_encoder().encode_from_utf16(units(src), dst, true);
            done(r, w)
        }
        (Some(Side::Utf16), Some(Side::Utf8)) => {
            let (r, _, w, _) =
                encoding_rs::UTF_8
                    .new_encoder()
                    .encode_from_utf16(units(src), dst, true);
            done(r, w)
        }
        _ => -1,
    }
}
