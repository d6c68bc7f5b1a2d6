// The groupings, the music library, the texts and the articles of the demo content.
#include "demo/generator/DemoCatalogue.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace {

DemoText T(const char* ru, const char* en, const char* fr, const char* de, const char* it = nullptr,
           const char* es = nullptr) {
    return DemoText{ru, en, fr, de, it, es, nullptr, nullptr};
}

DemoText latin(const char* ru, const char* en) { return DemoText{ru, en, en, en, en, en, nullptr, nullptr}; }

struct GenreName {
    DemoGenre genre;
    DemoText name;
};

const std::vector<GenreName>& genreNames() {
    static const std::vector<GenreName> names = {
        {DemoGenre::Portrait, T("Портрет", "Portraits", "Portraits", "Bildnisse", "Ritratti", "Retratos")},
        {DemoGenre::Landscape, T("Пейзаж", "Landscapes", "Paysages", "Landschaften", "Paesaggi", "Paisajes")},
        {DemoGenre::Religious, T("Религиозные сюжеты", "Religious Scenes", "Scènes religieuses", "Religiöse Szenen",
                                 "Scene religiose", "Escenas religiosas")},
        {DemoGenre::Mythology, T("Мифология", "Mythology", "Mythologie", "Mythologie", "Mitologia", "Mitología")},
        {DemoGenre::StillLife, T("Натюрморт", "Still Life", "Nature morte", "Stillleben", "Natura morta", "Bodegón")},
        {DemoGenre::Everyday, T("Бытовой жанр", "Everyday Life", "Scènes de genre", "Genremalerei", "Scene di genere",
                                "Escenas cotidianas")},
        {DemoGenre::History, T("Историческая живопись", "History Painting", "Peinture d'histoire", "Historienmalerei",
                               "Pittura storica", "Pintura de historia")},
        {DemoGenre::Marine, T("Марина", "Seascapes", "Marines", "Seestücke", "Marine", "Marinas")},
    };
    return names;
}

}  // namespace

std::string DemoText::in(const std::string& language) const {
    const char* text = nullptr;
    if (language == "ru") text = ru;
    else if (language == "en") text = en;
    else if (language == "fr") text = fr;
    else if (language == "de") text = de;
    else if (language == "it") text = it;
    else if (language == "es") text = es;
    else if (language == "ja") text = ja;
    else if (language == "zh") text = zh;
    return text ? text : "";
}

const std::vector<std::string>& DemoCatalogue::languages() {
    static const std::vector<std::string> list = {"en", "fr", "de", "it", "zh", "ja", "ko", "pt", "es", "tr"};
    return list;
}

const std::vector<DemoText>& DemoCatalogue::bigCats() {
    static const std::vector<DemoText> list = {
        T("Живопись", "Paintings", "Peinture", "Malerei", "Pittura", "Pintura"),
    };
    return list;
}

// One group per genre, each listed once, then the empty frescoes group.
const std::vector<DemoGroup>& DemoCatalogue::genreGroups() {
    static const std::vector<DemoGroup> list = [] {
        struct Entry {
            DemoGenre genre;
            const char* description;
        };
        static const Entry order[] = {
            {DemoGenre::Portrait, "Likenesses of merchants, kings, sitters of the Salon and the painters themselves."},
            {DemoGenre::Religious, nullptr},  // left without a description: no information button
            {DemoGenre::Mythology, "Gods and heroes of antiquity, from the Renaissance to the Symbolists."},
            {DemoGenre::History, "Great events, revolutions, battles and legends on a monumental scale."},
            {DemoGenre::Landscape, "Fields, towns, skies and weather, from the studio to the open air."},
            {DemoGenre::Everyday, "Kitchens, village feasts, cafés and dance halls."},
            {DemoGenre::StillLife, "Fruit, glass and silver, sunflowers, apples and irises."},
            {DemoGenre::Marine, "Waves, storms and harbours."},
        };
        std::vector<DemoGroup> groups;
        int index = 1;
        for (const auto& entry : order) {
            const GenreName* name = nullptr;
            for (const auto& n : genreNames())
                if (n.genre == entry.genre) name = &n;
            groups.push_back({index++, 1, name->name, entry.description, nullptr});
        }
        groups.push_back({index, 1, T("Фрески", "Frescoes", "Fresques", "Fresken", "Affreschi", "Frescos"),
                          "Wall paintings; none of them travels well, so this group is empty.", "genre_frescoes"});
        // Picture names "genre_NN", kept alive for the life of the process.
        static std::vector<std::string> names;
        for (const auto& group : groups) {
            char path[32];
            std::snprintf(path, sizeof path, "genre_%02d", group.index);
            names.emplace_back(group.filePath ? group.filePath : path);
        }
        for (std::size_t i = 0; i < groups.size(); ++i) groups[i].filePath = names[i].c_str();
        return groups;
    }();
    return list;
}

// The painters with paintings, the earliest born first.
const std::vector<DemoGroup>& DemoCatalogue::painterGroups() {
    static const std::vector<DemoGroup> list = [] {
        std::vector<const DemoPainter*> painted;
        for (const auto& painter : painters()) {
            bool hasPainting = false;
            for (const auto& painting : paintings()) hasPainting = hasPainting || painting.painter == painter.index;
            if (hasPainting) painted.push_back(&painter);
        }
        std::stable_sort(painted.begin(), painted.end(),
                         [](const DemoPainter* a, const DemoPainter* b) { return a->born < b->born; });
        static std::vector<std::string> pictures;
        pictures.reserve(painted.size());
        std::vector<DemoGroup> groups;
        int index = 1;
        for (const DemoPainter* painter : painted) {
            pictures.push_back(painterPictureOf(*painter));
            groups.push_back({index++, 1, painter->name, painter->bioEn, pictures.back().c_str()});
        }
        return groups;
    }();
    return list;
}

int DemoCatalogue::genreGroupOf(const DemoPainting& painting) {
    const DemoText* wanted = nullptr;
    for (const auto& n : genreNames())
        if (n.genre == painting.genre) wanted = &n.name;
    for (const auto& group : genreGroups()) {
        if (wanted && group.name.en == wanted->en) return group.index;
    }
    throw std::logic_error("a demo painting has no genre group");
}

int DemoCatalogue::painterGroupOf(const DemoPainting& painting) {
    const DemoPainter& painter = painters().at(static_cast<std::size_t>(painting.painter - 1));
    for (const auto& group : painterGroups()) {
        if (group.name.en == painter.name.en) return group.index;
    }
    throw std::logic_error("a demo painting has no painter group");
}

std::string DemoCatalogue::painterPictureOf(const DemoPainter& painter) {
    char name[32];
    std::snprintf(name, sizeof name, "author_%02d", painter.index);
    return name;
}

const std::vector<DemoComposer>& DemoCatalogue::composers() {
    static const std::vector<DemoComposer> list = {
        {1, T("Иоганн Себастьян Бах", "Johann Sebastian Bach", "Jean-Sébastien Bach", "Johann Sebastian Bach",
              "Johann Sebastian Bach", "Johann Sebastian Bach"),
         "Leipzig cantor whose counterpoint is the grammar of Western music.", 2},
        {2, T("Антонио Вивальди", "Antonio Vivaldi", "Antonio Vivaldi", "Antonio Vivaldi", "Antonio Vivaldi",
              "Antonio Vivaldi"),
         "Venetian priest and violinist, master of the concerto.", 2},
        {3, T("Георг Фридрих Гендель", "George Frideric Handel", "Georg Friedrich Haendel", "Georg Friedrich Händel",
              "Georg Friedrich Händel", "Georg Friedrich Händel"),
         "German-born composer of operas and oratorios in London.", 2},
        {4, latin("Вольфганг Амадей Моцарт", "Wolfgang Amadeus Mozart"),
         "Prodigy from Salzburg who wrote in every form of his time.", 2},
        {5, latin("Людвиг ван Бетховен", "Ludwig van Beethoven"),
         "Composer who carried the symphony into the Romantic age.", 2},
        {6, latin("Франц Шуберт", "Franz Schubert"), "Viennese songwriter of more than six hundred Lieder.", 2},
        {7, T("Фредерик Шопен", "Frédéric Chopin", "Frédéric Chopin", "Frédéric Chopin", "Fryderyk Chopin",
              "Frédéric Chopin"),
         "Poet of the piano, born near Warsaw, living in Paris.", 2},
        {8, T("Пётр Ильич Чайковский", "Pyotr Ilyich Tchaikovsky", "Piotr Ilitch Tchaïkovski", "Pjotr Iljitsch Tschaikowski",
              "Pëtr Il'ič Čajkovskij", "Piotr Ilich Chaikovski"),
         "Russian composer of ballets, symphonies and concertos.", 2},
        {9, latin("Эдвард Григ", "Edvard Grieg"), "Norwegian composer of lyric pieces and Peer Gynt.", 2},
        {10, latin("Клод Дебюсси", "Claude Debussy"), "French composer of shimmering harmonies.", 0},
    };
    return list;
}

const std::vector<DemoText>& DemoCatalogue::musicGenres() {
    static const std::vector<DemoText> list = {
        T("Оркестровая музыка", "Orchestral", "Musique orchestrale", "Orchestermusik", "Musica orchestrale",
          "Música orquestal"),
        T("Клавирная музыка", "Keyboard", "Clavier", "Klaviermusik", "Musica per tastiera", "Teclado"),
        T("Хоровая и вокальная музыка", "Choral and Vocal", "Musique chorale et vocale", "Chor- und Vokalmusik",
          "Musica corale e vocale", "Música coral y vocal"),
        T("Концерты", "Concertos", "Concertos", "Konzerte", "Concerti", "Conciertos"),
        T("Балет", "Ballet", "Ballet", "Ballett", "Balletto", "Ballet"),
    };
    return list;
}

const std::vector<DemoText>& DemoCatalogue::countries() {
    static const std::vector<DemoText> list = {
        T("Германия", "Germany", "Allemagne", "Deutschland", "Germania", "Alemania"),
        T("Италия", "Italy", "Italie", "Italien", "Italia", "Italia"),
        T("Австрия", "Austria", "Autriche", "Österreich", "Austria", "Austria"),
        T("Польша", "Poland", "Pologne", "Polen", "Polonia", "Polonia"),
        T("Россия", "Russia", "Russie", "Russland", "Russia", "Rusia"),
        T("Норвегия", "Norway", "Norvège", "Norwegen", "Norvegia", "Noruega"),
        T("Франция", "France", "France", "Frankreich", "Francia", "Francia"),
    };
    return list;
}

const std::vector<DemoComposition>& DemoCatalogue::compositions() {
    static const std::vector<DemoComposition> list = {
        {1, T("Ария", "Air on the G String", "Air sur la corde de sol", "Air auf der G-Saite"), 1, 1, 1, "bach/air.m4a"},
        {2, T("Токката и фуга ре минор", "Toccata and Fugue in D minor", "Toccata et fugue en ré mineur",
              "Toccata und Fuge d-Moll"),
         1, 2, 1, "bach/toccata_and_fugue.m4a"},
        {3, T("Бранденбургский концерт № 3", "Brandenburg Concerto No. 3", "Concerto brandebourgeois nº 3",
              "Brandenburgisches Konzert Nr. 3"),
         1, 4, 1, "bach/brandenburg_3.m4a"},
        {4, T("Времена года: Весна", "The Four Seasons: Spring", "Les Quatre Saisons : le Printemps",
              "Die vier Jahreszeiten: Frühling", "Le quattro stagioni: La primavera", "Las cuatro estaciones: Primavera"),
         2, 4, 2, "vivaldi/spring.m4a"},
        {5, T("Времена года: Зима", "The Four Seasons: Winter", "Les Quatre Saisons : l'Hiver",
              "Die vier Jahreszeiten: Winter", "Le quattro stagioni: L'inverno", "Las cuatro estaciones: Invierno"),
         2, 4, 2, "vivaldi/winter.m4a"},
        {6, T("Аллилуйя", "Hallelujah Chorus", "Alléluia", "Halleluja"), 3, 3, 1, "handel/hallelujah.m4a"},
        {7, T("Сарабанда", "Sarabande", "Sarabande", "Sarabande"), 3, 2, 1, "handel/sarabande.m4a"},
        {8, T("Музыка на воде: Хорнпайп", "Water Music: Alla Hornpipe", "Water Music : Alla Hornpipe",
              "Wassermusik: Alla Hornpipe"),
         3, 1, 1, "handel/hornpipe.m4a"},
        {9, T("Маленькая ночная серенада", "Eine kleine Nachtmusik", "Une petite musique de nuit",
              "Eine kleine Nachtmusik"),
         4, 1, 3, "mozart/nachtmusik.m4a"},
        {10, T("Симфония № 40", "Symphony No. 40", "Symphonie nº 40", "Sinfonie Nr. 40"), 4, 1, 3,
         "mozart/symphony_40.m4a"},
        {11, T("Турецкое рондо", "Rondo alla Turca", "Marche turque", "Rondo alla turca"), 4, 2, 3,
         "mozart/rondo_alla_turca.m4a"},
        {12, T("Реквием: Lacrimosa", "Requiem: Lacrimosa", "Requiem : Lacrimosa", "Requiem: Lacrimosa"), 4, 3, 3,
         "mozart/lacrimosa.m4a"},
        {13, T("К Элизе", "Für Elise", "Lettre à Élise", "Für Elise"), 5, 2, 1, "beethoven/fur_elise.m4a"},
        {14, T("Лунная соната", "Moonlight Sonata", "Sonate au clair de lune", "Mondscheinsonate"), 5, 2, 1,
         "beethoven/moonlight.m4a"},
        {15, T("Симфония № 5", "Symphony No. 5", "Symphonie nº 5", "Sinfonie Nr. 5"), 5, 1, 1,
         "beethoven/symphony_5.m4a"},
        {16, T("Ода к радости", "Ode to Joy", "Ode à la joie", "Ode an die Freude"), 5, 3, 1, "beethoven/ode_to_joy.m4a"},
        {17, T("Аве Мария", "Ave Maria", "Ave Maria", "Ave Maria"), 6, 3, 3, "schubert/ave_maria.m4a"},
        {18, T("Серенада", "Serenade", "Sérénade", "Ständchen"), 6, 3, 3, "schubert/standchen.m4a"},
        {19, T("Ноктюрн ми-бемоль мажор", "Nocturne in E-flat major", "Nocturne en mi bémol majeur",
               "Nocturne Es-Dur"),
         7, 2, 4, "chopin/nocturne_op9_2.m4a"},
        {20, T("Минутный вальс", "Minute Waltz", "Valse minute", "Minutenwalzer"), 7, 2, 4, "chopin/minute_waltz.m4a"},
        {21, T("Прелюдия «Капли дождя»", "Raindrop Prelude", "Prélude de la goutte d'eau", "Regentropfen-Prélude"), 7,
         2, 4, "chopin/raindrop.m4a"},
        {22, T("Танец Феи Драже", "Dance of the Sugar Plum Fairy", "Danse de la fée Dragée", "Tanz der Zuckerfee"), 8,
         5, 5, "tchaikovsky/sugar_plum.m4a"},
        {23, T("Лебединое озеро: Сцена", "Swan Lake: Scene", "Le Lac des cygnes : Scène", "Schwanensee: Szene"), 8, 5, 5,
         "tchaikovsky/swan_lake.m4a"},
        {24, T("Концерт для фортепиано № 1", "Piano Concerto No. 1", "Concerto pour piano nº 1", "Klavierkonzert Nr. 1"),
         8, 4, 5, "tchaikovsky/piano_concerto_1.m4a"},
        {25, T("В пещере горного короля", "In the Hall of the Mountain King", "Dans l'antre du roi de la montagne",
               "In der Halle des Bergkönigs"),
         9, 1, 6, "grieg/mountain_king.m4a"},
        {26, T("Утро", "Morning Mood", "Au matin", "Morgenstimmung"), 9, 1, 6, "grieg/morning_mood.m4a"},
        {27, T("Лунный свет", "Clair de lune", "Clair de lune", "Clair de lune"), 10, 2, 7, "debussy/clair_de_lune.m4a"},
        {28, T("Арабеска № 1", "Arabesque No. 1", "Arabesque nº 1", "Arabeske Nr. 1"), 10, 2, 7, "debussy/arabesque_1.m4a"},
    };
    return list;
}

const std::vector<DemoText>& DemoCatalogue::textCategories() {
    static const std::vector<DemoText> list = {
        T("О живописи", "About Painting", "Sur la peinture", "Über Malerei"),
        T("О музыке", "About Music", "Sur la musique", "Über Musik"),
    };
    return list;
}

const std::vector<DemoCatalogue::TextGroup>& DemoCatalogue::textGroups() {
    static const std::vector<TextGroup> list = {
        {1, "Techniques", 1, 2, "How pictures are made, from egg tempera to thick paint."},
        {2, "Movements", 1, 0, "Four turning points in the history of painting."},
        {3, "Composers", 2, 0, "Moments from the lives of the composers in the library."},
        {4, "Listening", 2, 1, "Short guides to listening."},
    };
    return list;
}

const std::vector<DemoTextEntry>& DemoCatalogue::texts() {
    static const std::vector<DemoTextEntry> list = {
        {1, 1, "Egg Tempera",
         "<p>Before oil, painters bound their pigments with <b>egg yolk</b>. Tempera dries in minutes, so colours are "
         "laid in fine hatched strokes.</p><p>The result is bright, matt and remarkably durable.</p>",
         "2024-01-08"},
        {2, 1, "Oil Glazes",
         "<p>A glaze is a thin, transparent layer of oil paint over a dry one. Light passes through and returns from "
         "below, which gives the <i>glow</i> of early Flemish pictures.</p>",
         "2024-01-15"},
        {3, 1, "Fresco",
         "<p>Fresco is painted into wet lime plaster. The painter covers only as much wall as can be finished in one "
         "day, and the joins between these days can still be seen.</p>",
         "2024-01-22"},
        {4, 1, "Impasto",
         "<p>Paint laid on thickly enough to keep the mark of the brush or knife is called impasto. Late Rembrandt and "
         "van Gogh used it to catch the light on the surface itself.</p><p>See it in "
         "<a href=\"imageLink_{The Starry Night}\">The Starry Night</a>.</p>",
         "2024-01-29"},
        {5, 2, "The Renaissance",
         "<p>In fifteenth-century Florence painters studied perspective, anatomy and ancient sculpture. Pictures became "
         "windows onto a measured, believable world.</p>",
         "2024-02-05"},
        {6, 2, "The Baroque",
         "<p>Baroque painting seeks movement and drama: strong diagonals, deep shadows and a moment caught at its "
         "height.</p>",
         "2023-11-20"},
        {7, 2, "Romanticism",
         "<p>Romantic painters turned to feeling, to the sublime in nature and to the lonely individual before it.</p>",
         "2023-12-04"},
        {8, 2, "Impressionism",
         "<p>The Impressionists painted out of doors, in broken touches of pure colour, to catch the passing effect of "
         "light. The name came from a mocking review.</p>",
         "2024-02-12"},
        {9, 3, "Bach in Leipzig",
         "<p>For twenty-seven years Bach wrote music for the churches of Leipzig, often a new cantata every week.</p>",
         "2024-03-01"},
        {10, 3, "Mozart's Last Year",
         "<p>In 1791 Mozart finished <i>The Magic Flute</i> and a clarinet concerto and left his Requiem "
         "unfinished.</p>",
         "2024-03-08"},
        {11, 4, "Listening to a Symphony",
         "<p>Follow the first theme: it comes back changed. Much of a symphony's drama lies in what happens to a tune "
         "on its way.</p>",
         "2024-03-15"},
        {12, 4, "The Nocturne",
         "<p>A nocturne is a night piece: a singing melody over a rocking accompaniment, made famous by Chopin.</p>",
         "2024-03-22"},
    };
    return list;
}

const std::vector<DemoArticle>& DemoCatalogue::articles() {
    static const std::vector<DemoArticle> list = [] {
        auto byTitle = [](const char* english) {
            for (const auto& painting : paintings())
                if (painting.title.en && std::strcmp(painting.title.en, english) == 0) return painting.index;
            throw std::logic_error(std::string("no demo painting titled ") + english);
        };
        return std::vector<DemoArticle>{
            {"odm-mona-lisa-en", byTitle("Mona Lisa"), "en", "The smile in the half-light",
             {"Leonardo painted the portrait in thin glazes, layer over layer, until no line was left to mark where "
              "the mouth ends and the cheek begins.",
              "The landscape behind her does not meet itself: the horizon on the left sits lower than the one on the "
              "right, and the eye that wanders between them never settles."}},
            {"odm-starry-night-en", byTitle("The Starry Night"), "en", "A sky that will not keep still",
             {"Van Gogh painted the view from his window from memory, by day, and moved the village to fit the "
              "hills.",
              "The cypress in front is as dark as the sky is bright, and it climbs like a flame into the swirling "
              "stars."}},
            {"odm-great-wave-en", byTitle("The Great Wave off Kanagawa"), "en", "One wave, three boats and a mountain",
             {"Hokusai cut the print in wood and printed it in a blue that had only just reached Japan.",
              "The wave's claws hang over the rowers, while Mount Fuji, the subject of the whole series, waits small "
              "and calm in the trough."}},
            {"odm-night-watch-en", byTitle("The Night Watch"), "en", "A company on the move",
             {"Rembrandt broke with the rows of sitters the guards expected and painted them setting out, drum "
              "beating and pikes raised.",
              "The scene is not at night at all: a varnish darkened over the centuries and gave the painting its "
              "name."}},
            {"odm-pearl-earring-en", byTitle("Girl with a Pearl Earring"), "en", "A glance over the shoulder",
             {"Vermeer set the girl against a dark ground and used it to catch the light on her lips, her eye and "
              "the pearl.",
              "The pearl itself is two strokes of paint: a bright touch above and a soft reflection of her collar "
              "below."}},
            {"odm-ninth-wave-ru", byTitle("The Ninth Wave"), "ru", "Девятый вал",
             {"Айвазовский писал море по памяти, не выходя к нему с мольбертом.",
              "Люди на обломке мачты ждут самой большой волны, а солнце уже пробивается сквозь бурю."}},
            {"odm-morning-pine-forest-ru", byTitle("Morning in a Pine Forest"), "ru", "Утро в сосновом лесу",
             {"Шишкин написал лес, а медведей на картине написал его друг Савицкий.",
              "Туман поднимается между стволами, и свет падает на поваленную сосну."}},
            {"odm-barge-haulers-ru", byTitle("Barge Haulers on the Volga"), "ru", "Бурлаки на Волге",
             {"Репин провёл на Волге целое лето, рисуя бурлаков одного за другим.",
              "Одиннадцать человек тянут баржу по жаркому берегу, и только молодой Ларька поднимает голову."}},
            {"odm-hunters-snow-de", byTitle("The Hunters in the Snow"), "de", "Die Jäger im Schnee",
             {"Bruegel malte den Winter als Teil einer Folge über die Monate des Jahres.",
              "Die müden Jäger kehren mit einem einzigen Fuchs heim, während unten im Tal die Menschen auf dem Eis "
              "spielen."}},
            {"odm-wanderer-de", byTitle("Wanderer above the Sea of Fog"), "de", "Der Wanderer über dem Nebelmeer",
             {"Friedrich zeigt den Wanderer von hinten, sodass wir mit seinen Augen in den Nebel blicken.",
              "Die Gipfel, die aus dem Nebel ragen, hat der Maler aus Skizzen verschiedener Berge zusammengesetzt."}},
            {"odm-young-hare-de", byTitle("Young Hare"), "de", "Der Feldhase",
             {"Dürer malte den Hasen mit Wasserfarben und Deckweiß, Haar für Haar.",
              "Im Auge des Hasen spiegelt sich ein Fenster: das Atelier, in dem er saß."}},
            {"odm-impression-sunrise-fr", byTitle("Impression, Sunrise"), "fr", "Impression, soleil levant",
             {"Monet a peint le port du Havre depuis la fenêtre de son hôtel, en quelques heures.",
              "Le soleil orange n'est pas plus clair que le ciel gris, et pourtant l'œil ne voit que lui."}},
        };
    }();
    return list;
}

std::string DemoCatalogue::imagePathOf(const DemoPainting& painting) {
    char name[32];
    // One upper-case extension and one PNG, as real catalogues have.
    const char* extension = painting.index == 7 ? "JPG" : painting.index == 13 ? "png" : "jpg";
    std::snprintf(name, sizeof name, "p%04d.%s", painting.index, extension);
    return name;
}

std::string DemoCatalogue::thumbnailPathOf(const DemoPainting& painting) {
    if (painting.index == 13) return "";
    char name[32];
    std::snprintf(name, sizeof name, "p%04d_thumb.jpg", painting.index);
    return name;
}

std::vector<std::string> DemoCatalogue::composerPicturesOf(const DemoComposer& composer) {
    std::vector<std::string> names;
    for (int k = 1; k <= composer.pictures; ++k) {
        char name[40];
        std::snprintf(name, sizeof name, "composers/c%02d_%d.jpg", composer.index, k);
        names.emplace_back(name);
    }
    return names;
}

bool DemoCatalogue::isOnServerOnly(const DemoPainting& painting) { return painting.index % 5 == 4; }

std::string DemoCatalogue::serverThumbnailPathOf(const std::string& imagePath) {
    const std::size_t n = imagePath.size();
    if (n < 4) return imagePath;
    std::string extension = imagePath.substr(n - 4);
    for (auto& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension == ".jpg" ? imagePath.substr(0, n - 4) + "_thumb.jpg" : imagePath;
}

double DemoCatalogue::compositionSeconds(const DemoComposition& composition) { return 3.0 + composition.index % 4; }

bool DemoCatalogue::isCompositionInBundle(const DemoComposition& composition) { return composition.index % 4 == 1; }
