<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ja">
<context>
    <name>CJobController</name>
    <message>
        <source>ファイルのロードに失敗しました。</source>
        <translation>The file could not be loaded.</translation>
    </message>
    <message>
        <source>ファイルのロードに失敗しました。 (%1)</source>
        <translation>The file could not be loaded. (%1)</translation>
    </message>
    <message>
        <source>処理に失敗しました。</source>
        <translation>The encode failed.</translation>
    </message>
</context>
<context>
    <name>CJobQueuePanel</name>
    <message>
        <source>キュー</source>
        <translation>Queue</translation>
    </message>
    <message>
        <source>キューを開始(&amp;S)</source>
        <translation>&amp;Start queue</translation>
    </message>
    <message>
        <source>上へ</source>
        <translation>Up</translation>
    </message>
    <message>
        <source>下へ</source>
        <translation>Down</translation>
    </message>
    <message>
        <source>削除</source>
        <translation>Remove</translation>
    </message>
</context>
<context>
    <name>CMainWindow</name>
    <message>
        <source>出力するファイルを選択する</source>
        <translation>Choose the output file</translation>
    </message>
    <message>
        <source>rvx file (*.rvx)</source>
        <translation>RVX movie (*.rvx)</translation>
    </message>
    <message>
        <source>入力ファイルが指定されていません。</source>
        <translation>No input file was given.</translation>
    </message>
    <message>
        <source>エラー</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>ファイル[%1]はキューの待機中の行も出力します。上書きしてもよろしいですか？</source>
        <translation>A waiting row of the queue also writes [%1]. Replace it?</translation>
    </message>
    <message>
        <source>上書き確認</source>
        <translation>Confirm replace</translation>
    </message>
    <message>
        <source>ファイル名が入力されていません。</source>
        <translation>No file name was entered.</translation>
    </message>
    <message>
        <source>ファイル[%1]はすでに存在します。上書きしてもよろしいですか？</source>
        <translation>[%1] already exists. Replace it?</translation>
    </message>
    <message>
        <source>指定したファイル名で作成できません、</source>
        <translation>A file of that name cannot be created.</translation>
    </message>
    <message>
        <source>目標サイズが入力されていません。</source>
        <translation>No target size was entered.</translation>
    </message>
    <message>
        <source>指定したサイズでは作成できません。</source>
        <translation>A movie of that size cannot be made.</translation>
    </message>
    <message>
        <source>終了します。よろしいですか？</source>
        <translation>Quit?</translation>
    </message>
    <message>
        <source>終了確認</source>
        <translation>Confirm quit</translation>
    </message>
    <message>
        <source>処理を中断し終了します。よろしいですか？</source>
        <translation>Stop the encode and quit?</translation>
    </message>
    <message>
        <source>処理を中断します。よろしいですか？</source>
        <translation>Stop the encode?</translation>
    </message>
    <message>
        <source>中断確認</source>
        <translation>Confirm stop</translation>
    </message>
    <message>
        <source>キューの残りの処理も中止しますか？</source>
        <translation>Stop the rest of the queue too?</translation>
    </message>
    <message>
        <source>処理が完了しました。</source>
        <translation>The encode is complete.</translation>
    </message>
    <message>
        <source>処理完了</source>
        <translation>Complete</translation>
    </message>
    <message>
        <source>目標サイズを超えました: 目標 %1 バイト、実際 %2 バイト (%3 %)</source>
        <translation>Over the target size: target %1 bytes, written %2 bytes (%3 %)</translation>
    </message>
    <message>
        <source>ファイルのロードに失敗しました。</source>
        <translation>The file could not be loaded.</translation>
    </message>
    <message>
        <source>処理に失敗しました。</source>
        <translation>The encode failed.</translation>
    </message>
    <message>
        <source>DirectShowからのエンコード</source>
        <translation>Encode a movie</translation>
    </message>
    <message>
        <source>連番ファイルからのエンコード</source>
        <translation>Encode numbered images</translation>
    </message>
    <message>
        <source>AVIファイルからのエンコード</source>
        <translation>Encode an AVI file</translation>
    </message>
    <message>
        <source>画像オプション</source>
        <translation>Picture options</translation>
    </message>
    <message>
        <source>画像形式</source>
        <translation>Picture format</translation>
    </message>
    <message>
        <source>符号化方式</source>
        <translation>Coding method</translation>
    </message>
    <message>
        <source>プリセット</source>
        <translation>Preset</translation>
    </message>
    <message>
        <source>フレームレート</source>
        <translation>Frame rate</translation>
    </message>
    <message>
        <source>/</source>
        <translation>/</translation>
    </message>
    <message>
        <source>fps</source>
        <translation>fps</translation>
    </message>
    <message>
        <source>GOP構造</source>
        <translation>Group structure</translation>
    </message>
    <message>
        <source>GOP内のPフレーム数</source>
        <translation>P frames per group</translation>
    </message>
    <message>
        <source>GOP内のBフレーム数</source>
        <translation>B frames per group</translation>
    </message>
    <message>
        <source>シーンチェンジ検出値</source>
        <translation>Scene change threshold</translation>
    </message>
    <message>
        <source>量子化</source>
        <translation>Quantisation</translation>
    </message>
    <message>
        <source>量子化行列</source>
        <translation>Quantisation matrix</translation>
    </message>
    <message>
        <source>Iフレームの品質</source>
        <translation>I frame quality</translation>
    </message>
    <message>
        <source>Pフレームの品質</source>
        <translation>P frame quality</translation>
    </message>
    <message>
        <source>Bフレームの品質</source>
        <translation>B frame quality</translation>
    </message>
    <message>
        <source>品質を指定</source>
        <translation>Set the quality</translation>
    </message>
    <message>
        <source>サイズを指定</source>
        <translation>Set the size</translation>
    </message>
    <message>
        <source>目標サイズ</source>
        <translation>Target size</translation>
    </message>
    <message>
        <source>MB</source>
        <translation>MB</translation>
    </message>
    <message>
        <source>入力の範囲とサイズ</source>
        <translation>Part and size of the source</translation>
    </message>
    <message>
        <source>先頭</source>
        <translation>start</translation>
    </message>
    <message>
        <source>最後まで</source>
        <translation>to the end</translation>
    </message>
    <message>
        <source>元</source>
        <translation>source</translation>
    </message>
    <message>
        <source>開始</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>秒</source>
        <translation>s</translation>
    </message>
    <message>
        <source>長さ</source>
        <translation>Length</translation>
    </message>
    <message>
        <source>クロップ</source>
        <translation>Crop</translation>
    </message>
    <message>
        <source>幅</source>
        <translation>Width</translation>
    </message>
    <message>
        <source>×</source>
        <translation>×</translation>
    </message>
    <message>
        <source>高さ</source>
        <translation>Height</translation>
    </message>
    <message>
        <source>画像符号化設定</source>
        <translation>Picture coding</translation>
    </message>
    <message>
        <source>音楽符号化設定</source>
        <translation>Sound coding</translation>
    </message>
    <message>
        <source>ブロックサイズ</source>
        <translation>Block size</translation>
    </message>
    <message>
        <source>出力ファイル</source>
        <translation>Output file</translation>
    </message>
    <message>
        <source>参照(&amp;O)</source>
        <translation>Br&amp;owse</translation>
    </message>
    <message>
        <source>再生(&amp;P)</source>
        <translation>&amp;Play</translation>
    </message>
    <message>
        <source>フォルダを開く</source>
        <translation>Open folder</translation>
    </message>
    <message>
        <source>キューに追加(&amp;Q)</source>
        <translation>Add to &amp;queue</translation>
    </message>
    <message>
        <source>作成(&amp;C)</source>
        <translation>&amp;Create</translation>
    </message>
    <message>
        <source>中断(&amp;A)</source>
        <translation>&amp;Abort</translation>
    </message>
    <message>
        <source>終了(&amp;X)</source>
        <translation>E&amp;xit</translation>
    </message>
    <message>
        <source>フォルダを開けませんでした。</source>
        <translation>The folder could not be opened.</translation>
    </message>
    <message>
        <source>ファイルを開けませんでした。</source>
        <translation>The file could not be opened.</translation>
    </message>
</context>
<context>
    <name>COptionControls</name>
    <message>
        <source>従来互換</source>
        <translation>Classic</translation>
    </message>
    <message>
        <source>高速</source>
        <translation>Fast</translation>
    </message>
    <message>
        <source>標準</source>
        <translation>Medium</translation>
    </message>
    <message>
        <source>高画質</source>
        <translation>Slow</translation>
    </message>
    <message>
        <source>デフォルト</source>
        <translation>Default</translation>
    </message>
    <message>
        <source>手動設定</source>
        <translation>Manual</translation>
    </message>
    <message>
        <source>CG動画</source>
        <translation>CG movie</translation>
    </message>
    <message>
        <source>MPEG標準</source>
        <translation>MPEG standard</translation>
    </message>
    <message>
        <source>なし</source>
        <translation>None</translation>
    </message>
    <message>
        <source>自動</source>
        <translation>Auto</translation>
    </message>
    <message>
        <source>開始の時間が正しくありません。</source>
        <translation>The start time is not valid.</translation>
    </message>
    <message>
        <source>長さには0より長い時間を秒で入力してください。</source>
        <translation>Enter a length above 0 in seconds.</translation>
    </message>
    <message>
        <source>幅と高さには1から%1までの値を入力してください。</source>
        <translation>Enter a width and height from 1 to %1.</translation>
    </message>
</context>
<context>
    <name>CProgressWords</name>
    <message>
        <source>解析中… %1/%2</source>
        <translation>Analysing… %1/%2</translation>
    </message>
    <message>
        <source>%1をエンコード中... %2/%3</source>
        <translation>Encoding %1... %2/%3</translation>
    </message>
    <message>
        <source>%1をエンコード中...</source>
        <translation>Encoding %1...</translation>
    </message>
    <message>
        <source>%1を出力中...</source>
        <translation>Writing %1...</translation>
    </message>
    <message>
        <source>残り %1</source>
        <translation>%1 left</translation>
    </message>
</context>
<context>
    <name>CQueueModel</name>
    <message>
        <source>ソース</source>
        <translation>Source</translation>
    </message>
    <message>
        <source>出力</source>
        <translation>Output</translation>
    </message>
    <message>
        <source>状態</source>
        <translation>State</translation>
    </message>
    <message>
        <source>待機中</source>
        <translation>Waiting</translation>
    </message>
    <message>
        <source>処理中 %1%</source>
        <translation>Running %1%</translation>
    </message>
    <message>
        <source>完了</source>
        <translation>Done</translation>
    </message>
    <message>
        <source>失敗: %1</source>
        <translation>Failed: %1</translation>
    </message>
    <message>
        <source>中断</source>
        <translation>Aborted</translation>
    </message>
    <message>
        <source>目標超過: 目標 %1 バイト、実際 %2 バイト (%3 %)</source>
        <translation>Over target: target %1 bytes, written %2 bytes (%3 %)</translation>
    </message>
</context>
<context>
    <name>CSourcePage</name>
    <message>
        <source>すべてのファイル (*.*)</source>
        <translation>All files (*.*)</translation>
    </message>
    <message>
        <source>AVIファイル</source>
        <translation>AVI file</translation>
    </message>
    <message>
        <source>参照(&amp;F)</source>
        <translation>Browse (&amp;F)</translation>
    </message>
    <message>
        <source>AVIファイルを選択する</source>
        <translation>Choose an AVI file</translation>
    </message>
    <message>
        <source>avi file (*.avi)</source>
        <translation>AVI file (*.avi)</translation>
    </message>
    <message>
        <source>映像ライン：</source>
        <translation>Video: </translation>
    </message>
    <message>
        <source>音楽ライン：</source>
        <translation>Sound: </translation>
    </message>
    <message>
        <source>動画ファイル</source>
        <translation>Movie file</translation>
    </message>
    <message>
        <source>参照(&amp;D)</source>
        <translation>Browse (&amp;D)</translation>
    </message>
    <message>
        <source>動画ファイルを選択する</source>
        <translation>Choose a movie file</translation>
    </message>
    <message>
        <source>mpeg file (*.mpg)</source>
        <translation>MPEG file (*.mpg)</translation>
    </message>
    <message>
        <source>連番画像ファイル</source>
        <translation>Numbered image file</translation>
    </message>
    <message>
        <source>参照(&amp;I)</source>
        <translation>Browse (&amp;I)</translation>
    </message>
    <message>
        <source>連番画像ファイルを選択する</source>
        <translation>Choose a numbered image file</translation>
    </message>
    <message>
        <source>bmp file (*.bmp)</source>
        <translation>BMP image (*.bmp)</translation>
    </message>
    <message>
        <source>png file (*.png)</source>
        <translation>PNG image (*.png)</translation>
    </message>
    <message>
        <source>音楽ファイル</source>
        <translation>Sound file</translation>
    </message>
    <message>
        <source>参照(&amp;W)</source>
        <translation>Browse (&amp;W)</translation>
    </message>
    <message>
        <source>音楽ファイルを選択する</source>
        <translation>Choose a sound file</translation>
    </message>
    <message>
        <source>wave file (*.wav)</source>
        <translation>WAVE file (*.wav)</translation>
    </message>
    <message>
        <source>ありません。</source>
        <translation>None.</translation>
    </message>
</context>
<context>
    <name>CTargetProbe</name>
    <message>
        <source>目標サイズ %1 ではこの動画を作成できません。最小のサイズは %2 です。</source>
        <translation>This movie cannot be made at a target of %1. The smallest size is %2.</translation>
    </message>
</context>
</TS>
