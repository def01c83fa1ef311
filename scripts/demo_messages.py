"""The few messages waiting for taro in the demo: ordinary mail as Japanese
and English mail programs send it (ISO-2022-JP text and headers, an
attachment, an HTML newsletter, German in UTF-8 with an emoji, kanji whose
JIS bytes are markup characters, a long subject and a long link), dated in
the last days."""
import base64
import email.header
import email.utils
import quopri
import time


def _words(text, charset="iso-2022-jp"):
    """A header text as encoded words (ISO-2022-JP unless told), or as it is
    in ASCII."""
    if text.isascii():
        return text
    return email.header.Header(text, charset).encode()


def _address(name, address, charset="iso-2022-jp"):
    return f"{_words(name, charset)} <{address}>" if name else f"<{address}>"


def _head(sender, to, subject, hours_ago, domain, serial, charset="iso-2022-jp"):
    date = email.utils.formatdate(time.time() - hours_ago * 3600, localtime=True)
    # A domain of its own: without one, make_msgid would look up this host's name.
    message_id = email.utils.make_msgid(idstring=f"demo{serial}", domain=sender[1].split("@")[1])
    return (f"Date: {date}\nFrom: {_address(*sender, charset)}\nTo: {_address(*to)}\n"
            f"Subject: {_words(subject, charset)}\nMessage-ID: {message_id}\nMIME-Version: 1.0\n")


def _jis(text):
    return text.encode("iso-2022-jp").decode("ascii")


def messages(domain="test.example"):
    """The demo's messages for taro@domain, oldest first, as bytes."""
    taro = ("山田 太郎", f"taro@{domain}")
    hanako = ("佐藤 花子", f"hanako@{domain}")
    out = []

    out.append(_head(("Kenji Kato", "kenji.kato@example.com"), taro, "Lunch on Friday?", 50,
                     domain, 1) +
               "Content-Type: text/plain; charset=us-ascii\nContent-Transfer-Encoding: 7bit\n\n"
               "Hi Taro,\n\nAre you free for lunch on Friday? The new noodle place near the\n"
               "station opens at 11:30 and the queue gets long after noon.\n\n"
               "Usual spot, 11:20?\n\nKenji\n")

    text = ("山田様\n\n総務部の鈴木です。\n年末の大掃除の当番表を添付します。\n"
            "担当の場所と時間をご確認ください。\n\n総務部 鈴木\n")
    table = "日付,場所,担当\n12月27日,第一会議室,山田\n12月27日,給湯室,佐藤\n".encode("cp932")
    name = _words("当番表.csv")
    boundary = "----=_NextPart_000_0001_demo"
    out.append(_head(("総務部 鈴木", "suzuki@example.org"), taro, "年末の大掃除のお知らせ", 26,
                     domain, 2) +
               f'Content-Type: multipart/mixed; boundary="{boundary}"\n\n'
               f"--{boundary}\nContent-Type: text/plain; charset=ISO-2022-JP\n"
               f"Content-Transfer-Encoding: 7bit\n\n{_jis(text)}\n"
               f'--{boundary}\nContent-Type: text/csv; name="{name}"\n'
               f'Content-Transfer-Encoding: base64\nContent-Disposition: attachment; filename="{name}"\n\n'
               f"{base64.encodebytes(table).decode('ascii')}\n--{boundary}--\n")

    plain = "社内報 12月号\n\n今月の話題: 新しい食堂メニュー、忘年会のお知らせ、冬休みの予定。\n"
    html = ("<html><body><h2>社内報 12月号</h2><p>今月の話題:</p><ul><li>新しい食堂メニュー</li>"
            "<li>忘年会のお知らせ</li><li>冬休みの予定</li></ul></body></html>\n")
    boundary = "00000000000012decdemo"
    out.append(_head(("社内報編集部", "news@example.net"), taro, "社内報 12月号", 5, domain, 3) +
               f'Content-Type: multipart/alternative; boundary="{boundary}"\n\n'
               f'--{boundary}\nContent-Type: text/plain; charset="UTF-8"\n'
               f"Content-Transfer-Encoding: base64\n\n"
               f"{base64.encodebytes(plain.encode('utf-8')).decode('ascii')}\n"
               f'--{boundary}\nContent-Type: text/html; charset="UTF-8"\n'
               f"Content-Transfer-Encoding: quoted-printable\n\n"
               f"{quopri.encodestring(html.encode('utf-8')).decode('ascii')}\n--{boundary}--\n")

    text = ("Hallo Taro,\n\nunsere Weihnachtsfeier ist am Freitag, 19.12., ab 18 Uhr im "
            "Bräustüberl.\nBitte gib bis Mittwoch Bescheid, ob du kommst. 🎄🍺\n\n"
            "Viele Grüße aus München\nJürgen Müller\n")
    out.append(_head(("Jürgen Müller", "juergen.mueller@example.de"), taro,
                     "Grüße aus München 🎄 Weihnachtsfeier am 19.12.", 3, domain, 5, "utf-8") +
               'Content-Type: text/plain; charset="UTF-8"\nContent-Transfer-Encoding: '
               "quoted-printable\n\n" + quopri.encodestring(text.encode("utf-8")).decode("ascii"))

    # 下 陰 愛 仮 carry <, ", & and > among their JIS bytes.
    text = ("山田様\n\n下記の通り、愛知支店の会議室を仮予約しました。\n"
            "「陰の立役者」賞の表彰も行います。右の地図をご覧ください:\n"
            "https://maps.example.jp/place/aichi-branch/meeting-room-3?from=nagoya-station"
            "&route=subway-higashiyama-line&lang=ja\n\n愛知支店 王\n")
    out.append(_head(("愛知支店 王", "wang@example.co.jp"), taro,
                     "【ご案内】愛知支店・下関営業所合同会議の仮予約について(右記の日程と会議室を"
                     "ご確認のうえ、ご返信ください)", 2, domain, 6) +
               "Content-Type: text/plain; charset=ISO-2022-JP\nContent-Transfer-Encoding: 7bit\n\n" +
               _jis(text))

    text = ("山田さん\n\nお疲れさまです。佐藤です。\n"
            "来週火曜日の打ち合わせですが、会議室が第二会議室に変わりました。\n"
            "開始は午後二時のままです。\n\n資料は前日までに共有フォルダへ置いておきます。\n"
            "よろしくお願いします。\n\n佐藤\n")
    out.append(_head(hanako, taro, "来週の打ち合わせについて", 1, domain, 4) +
               "Content-Type: text/plain; charset=ISO-2022-JP\nContent-Transfer-Encoding: 7bit\n\n" +
               _jis(text))
    return [m.encode("ascii") for m in out]
