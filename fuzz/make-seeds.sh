#!/usr/bin/env bash
# Writes the seed corpora under fuzz/corpus/: real archives made with `zip`, answers shaped
# like the services' own. Run again after changing it; the results are checked in.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
corpus="$here/corpus"
rm -rf "$corpus"
mkdir -p "$corpus"/{zip_reader,drive_answers,oauth_token,oauth_redirect,tdlib_objects,media_range}
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# ---- ZIP archives -------------------------------------------------------------------------
(
    cd "$work"
    mkdir -p tree/docs/inner
    printf 'hello zip\n' > tree/hello.txt
    printf '%.0sabcdefgh' $(seq 1 64) > tree/docs/repeat.txt
    : > tree/docs/empty.txt
    printf 'deep\n' > tree/docs/inner/deep.md
    export TZ=UTC
    touch -d '2024-03-05 09:15:02' tree/hello.txt tree/docs/repeat.txt tree/docs/empty.txt \
        tree/docs/inner/deep.md
    (cd tree && zip -q -X -D -0 "$work/stored.zip" hello.txt docs/repeat.txt)
    (cd tree && zip -q -X -D -9 "$work/deflated.zip" hello.txt docs/repeat.txt docs/empty.txt)
    (cd tree && zip -q -X -r "$work/folders.zip" docs)
    (cd tree && zip -q -X -D "$work/comment.zip" hello.txt && echo 'archive comment' |
        zip -q -z "$work/comment.zip")
    (cd tree && zip -q -X -D -P secret "$work/encrypted.zip" hello.txt)
    # Names a hostile archive would carry: "..", absolute, backslashes, a drive prefix.
    python3 - "$work/names.zip" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    for name in ["../escape.txt", "/abs/root.txt", "dir\\win\\file.txt", "C:/drive.txt",
                 "a/./b/../c.txt", " .. /x", "ctl\x01name.txt"]:
        z.writestr(zipfile.ZipInfo(name, (2024, 3, 5, 9, 15, 2)), b"x" * 5)
PY
)
cp "$work"/*.zip "$corpus/zip_reader/"

# ---- Drive answers ------------------------------------------------------------------------
d="$corpus/drive_answers"
cat > "$d/file.json" <<'J'
{"id":"1AbCdEfGhIjKlMnOpQrStUvWxYz","name":"Report 2024.pdf","mimeType":"application/pdf","size":"482113","modifiedTime":"2024-05-01T12:34:56.789Z","parents":["0AFolderIdUk9PVA"],"webViewLink":"https://drive.google.com/file/d/1AbCdEf/view","thumbnailLink":"https://lh3.googleusercontent.com/drive-storage/abc=s220"}
J
cat > "$d/folder.json" <<'J'
{"kind":"drive#file","id":"0AFolderIdUk9PVA","name":"Projects","mimeType":"application/vnd.google-apps.folder","modifiedTime":"2023-12-31T23:59:59Z","parents":["root"]}
J
cat > "$d/list.json" <<'J'
{"nextPageToken":"~!!~AI9FV7Q","incompleteSearch":false,"files":[{"id":"a1","name":"notes.txt","mimeType":"text/plain","size":"12","modifiedTime":"2024-01-02T03:04:05.6Z"},{"id":"b2","name":"Budget","mimeType":"application/vnd.google-apps.spreadsheet","modifiedTime":"2024-02-29T00:00:00.000Z","parents":["root"]}]}
J
cat > "$d/about.json" <<'J'
{"user":{"kind":"drive#user","displayName":"Ada Example","emailAddress":"ada@example.com","permissionId":"01234567890123456789"},"storageQuota":{"limit":"16106127360","usage":"9223372036854775807","usageInDrive":"1234","usageInDriveTrash":"0"}}
J
cat > "$d/about-unlimited.json" <<'J'
{"user":{"displayName":"Team"},"storageQuota":{"usage":"-5","usageInDrive":"+17"}}
J
cat > "$d/error-quota.json" <<'J'
{"error":{"code":403,"message":"The user's Drive storage quota has been exceeded.","errors":[{"domain":"usageLimits","reason":"storageQuotaExceeded","message":"The user's Drive storage quota has been exceeded."}]}}
J
cat > "$d/error-rate.json" <<'J'
{"error":{"code":429,"message":"Rate Limit Exceeded","errors":[{"domain":"usageLimits","reason":"userRateLimitExceeded"},{"reason":"rateLimitExceeded"}],"status":"RESOURCE_EXHAUSTED"}}
J
printf '%s' '{"error":{"errors":[{"domain":"global","reason":"notFound","message":"File not found: x."}],"code":404,"message":"File not found: x."}}' > "$d/error-notfound.json"
printf '%s' '2024-05-01T12:34:56.789123Z' > "$d/date.txt"
printf '%s' '-9223372036854775808' > "$d/int64.txt"

# ---- OAuth token endpoint replies ---------------------------------------------------------
o="$corpus/oauth_token"
cat > "$o/code-exchange.json" <<'J'
{"access_token":"ya29.a0AfB_byExampleAccessToken","expires_in":3599,"refresh_token":"1//0gExampleRefreshToken","scope":"https://www.googleapis.com/auth/drive","token_type":"Bearer","id_token":"eyJhbGciOi.eyJzdWIi.sig"}
J
cat > "$o/refresh.json" <<'J'
{"access_token":"ya29.a0Refreshed","expires_in":3920,"scope":"https://www.googleapis.com/auth/drive","token_type":"Bearer"}
J
printf '%s' '{"error":"invalid_grant","error_description":"Token has been expired or revoked."}' > "$o/invalid-grant.json"
printf '%s' '{"error":"invalid_client","error_description":"The OAuth client was not found."}' > "$o/invalid-client.json"
printf '%s' '{"refreshToken":"1//0gStored","accessToken":"ya29.stored","expiresAt":736300800.5}' > "$o/stored.json"
printf '%s' '{"access_token":"ya29.long","expires_in":9223372036854775807}' > "$o/endless.json"
printf '%s' '{"access_token":"ya29.past","expires_in":-9223372036854775808}' > "$o/expired.json"

# ---- OAuth redirect requests --------------------------------------------------------------
r="$corpus/oauth_redirect"
printf 'GET /?state=Zm9vYmFyYmF6cXV4&code=4/0AeanS0b-Example_code&scope=https%%3A%%2F%%2Fwww.googleapis.com%%2Fauth%%2Fdrive HTTP/1.1\r\nHost: 127.0.0.1:53682\r\nUser-Agent: Mozilla/5.0\r\nAccept: text/html\r\n\r\n' > "$r/callback.txt"
printf 'GET /?error=access_denied&state=Zm9vYmFyYmF6cXV4 HTTP/1.1\r\nHost: 127.0.0.1:53682\r\n\r\n' > "$r/denied.txt"
printf 'GET /favicon.ico HTTP/1.1\r\nHost: 127.0.0.1:53682\r\n\r\n' > "$r/favicon.txt"
printf 'GET ?code=a%%2Bb+c&state=s%%20t HTTP/1.1\r\n\r\n' > "$r/plus-and-escapes.txt"

# ---- TDLib objects ------------------------------------------------------------------------
t="$corpus/tdlib_objects"
cat > "$t/document.json" <<'J'
{"@type":"message","id":1048576,"chat_id":-1001234567890,"date":1709630102,"edit_date":0,"content":{"@type":"messageDocument","document":{"@type":"document","file_name":"report.pdf","mime_type":"application/pdf","thumbnail":{"@type":"thumbnail","file":{"@type":"file","id":77,"size":2048}},"document":{"@type":"file","id":76,"size":"482113","expected_size":482113,"local":{"@type":"localFile","path":"","is_downloading_completed":false},"remote":{"@type":"remoteFile","id":"BQACAgIAAxk","unique_id":"AgAD"}}}},"@extra":"7"}
J
cat > "$t/photo.json" <<'J'
{"@type":"message","id":2097152,"chat_id":"777000","date":1700000000,"content":{"@type":"messagePhoto","photo":{"@type":"photo","sizes":[{"@type":"photoSize","type":"m","photo":{"@type":"file","id":10,"size":9000},"width":320,"height":240},{"@type":"photoSize","type":"y","photo":{"@type":"file","id":11,"size":120000},"width":1280,"height":960}]},"caption":{"@type":"formattedText","text":"","entities":[]}}}
J
cat > "$t/voice.json" <<'J'
{"@type":"message","id":3,"chat_id":5,"date":1,"edit_date":1700000001,"content":{"@type":"messageVoiceNote","voice_note":{"@type":"voiceNote","duration":4,"mime_type":"audio/ogg","voice":{"@type":"file","id":9,"size":0,"expected_size":"4096"}}}}
J
cat > "$t/audio.json" <<'J'
{"@type":"message","id":4,"chat_id":5,"date":1700000000,"content":{"@type":"messageAudio","audio":{"@type":"audio","file_name":"song.mp3","album_cover_thumbnail":{"@type":"thumbnail","file":{"@type":"file","id":12}},"audio":{"@type":"file","id":13,"size":3145728}}}}
J
cat > "$t/update-file.json" <<'J'
{"@type":"updateFile","file":{"@type":"file","id":76,"size":482113,"expected_size":482113,"local":{"@type":"localFile","path":"/tmp/td/documents/report.pdf","downloaded_size":"482113","is_downloading_completed":true}}}
J
cat > "$t/update-auth.json" <<'J'
{"@type":"updateAuthorizationState","authorization_state":{"@type":"authorizationStateWaitCode","code_info":{"@type":"authenticationCodeInfo","phone_number":"+15550100","timeout":60}}}
J
cat > "$t/update-send.json" <<'J'
{"@type":"updateMessageSendFailed","old_message_id":"1048577","error":{"@type":"error","code":429,"message":"Too Many Requests: retry after 17"},"message":{"@type":"message","id":1048578,"chat_id":5}}
J
cat > "$t/update-delete.json" <<'J'
{"@type":"updateDeleteMessages","chat_id":5,"message_ids":[1048576,"2097152",true,1.5e3],"is_permanent":true,"from_cache":false}
J
cat > "$t/chat.json" <<'J'
{"@type":"chat","id":-1001234567890,"type":{"@type":"chatTypeSupergroup","supergroup_id":"1234567890","is_channel":true},"title":"Archive","photo":null,"permissions":{"@type":"chatPermissions"}}
J
cat > "$t/chats.json" <<'J'
{"@type":"chats","total_count":3,"chat_ids":[777000,-1001234567890,"-4000000001"]}
J
printf '%s' '{"@type":"error","code":400,"message":"FILE_REFERENCE_EXPIRED","@extra":"12"}' > "$t/error.json"
printf '%s' '{"@type":"error","code":420,"message":"FLOOD_WAIT_3600"}' > "$t/error-flood.json"
printf '%s' '{"@type":"messages","total_count":1,"messages":[null]}' > "$t/messages.json"

# ---- Media range server requests ----------------------------------------------------------
m="$corpus/media_range"
path="/tessarow-stream/00112233445566778899aabbccddeeff/clip.mp4"
host='Host: 127.0.0.1:40000\r\n' # the port the fuzz target gives its server
printf "GET %s HTTP/1.1\r\n$host""Range: bytes=0-\r\n\r\n" "$path" > "$m/open.txt"
printf 'GET %s HTTP/1.1\r\nHost: 127.0.0.1\r\nRange: bytes=100-199\r\nIcy-MetaData: 1\r\n\r\n' "$path" > "$m/middle.txt"
printf "GET %s HTTP/1.1\r\n$host""Range: bytes=-500\r\n\r\n" "$path" > "$m/suffix.txt"
printf "GET %s HTTP/1.1\r\n$host""Range: bytes=0-1,5-9\r\n\r\n" "$path" > "$m/multi.txt"
printf "GET %s HTTP/1.1\r\n$host""Range: bytes=999999-\r\n\r\n" "$path" > "$m/beyond.txt"
printf "HEAD %s HTTP/1.1\r\n$host""Connection: close\r\n\r\n" "$path" > "$m/head.txt"
printf "GET /tessarow-stream/ffffffffffffffffffffffffffffffff/clip.mp4 HTTP/1.1\r\n$host\r\n" > "$m/unknown.txt"
printf "POST %s HTTP/1.1\r\n$host""Content-Length: 3\r\n\r\nabc" "$path" > "$m/post.txt"
printf "GET %s HTTP/1.1\r\n$host""Range: bytes=0-0\r\n\r\nGET %s HTTP/1.1\r\n$host""Range: bytes=-0\r\n\r\n" "$path" "$path" > "$m/keep-alive.txt"
printf "GET %s HTTP/1.1\r\n$host""Origin: http://attacker.example\r\n\r\n" "$path" > "$m/origin.txt"
echo "seeds written to $corpus"
